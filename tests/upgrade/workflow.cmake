tolvane_add_test(tst_zoupgradeworkflow SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_zoupgradeworkflow.cpp
                 LIBS tolvane_upgrade)

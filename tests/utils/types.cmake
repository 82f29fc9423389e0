tolvane_add_test(tst_zotypes SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_zotypes.cpp LIBS tolvane_types)
tolvane_add_test(tst_zolittleendian SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_zolittleendian.cpp LIBS tolvane_types)

tolvane_add_test(tst_zoplanesearch SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_zoplanesearch.cpp
  LIBS tolvane_upgrade)

tolvane_add_test(tst_zoroundwaterprogressbar
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_zoroundwaterprogressbar.cpp LIBS tolvane_toolkit)

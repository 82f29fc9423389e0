tolvane_add_test(tst_zoroundwaterprogressbar
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_zoroundwaterprogressbar.cpp LIBS tolvane_toolkit)
tolvane_add_test(tst_zomessagebox
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_zomessagebox.cpp LIBS tolvane_toolkit)
tolvane_add_test(tst_zoframelesshelper
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_zoframelesshelper.cpp LIBS tolvane_toolkit)

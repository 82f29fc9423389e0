tolvane_add_test(tst_zoutils SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_zoutils.cpp LIBS tolvane_utils)
tolvane_add_test(tst_zoipv4address SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_zoipv4address.cpp LIBS tolvane_utils)

tolvane_add_test(tst_zopureserialportwrapper SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_zopureserialportwrapper.cpp LIBS tolvane_comm LABELS comm)
tolvane_add_test(tst_zopureudpwapper SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_zopureudpwapper.cpp LIBS tolvane_comm LABELS comm)
tolvane_add_test(tst_zopuretcpclientwrapper SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_zopuretcpclientwrapper.cpp LIBS tolvane_comm LABELS comm)

tolvane_add_test(tst_zoprotocolbase SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_zoprotocolbase.cpp LIBS tolvane_protocol)
tolvane_add_test(tst_zofcsprotocolbase SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_zofcsprotocolbase.cpp LIBS tolvane_protocol)
tolvane_add_test(tst_aes SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_aes.cpp LIBS tolvane_protocol)
tolvane_add_test(tst_zofirmwareupdateprotocol SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_zofirmwareupdateprotocol.cpp LIBS tolvane_protocol)

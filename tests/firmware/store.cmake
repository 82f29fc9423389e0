tolvane_add_test(tst_zobusdevcfg SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_zobusdevcfg.cpp
  LIBS tolvane_firmware_store)
tolvane_add_test(tst_zofrmfilestore SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_zofrmfilestore.cpp
  LIBS tolvane_firmware_store)

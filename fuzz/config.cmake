# The two XML loaders and the firmware-file header reader: both files come
# from outside the program.
tolvane_add_fuzzer(fuzz_sysconfig SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_sysconfig.cpp
  LIBS tolvane_config)
tolvane_add_fuzzer(fuzz_busdevcfg SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_busdevcfg.cpp
  LIBS tolvane_firmware_store)
tolvane_add_fuzzer(fuzz_frmheader SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_frmheader.cpp
  LIBS tolvane_firmware_store)

# The upgrade workflow's reading of a firmware file it is about to flash.
tolvane_add_fuzzer(fuzz_upgrade_prepare SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_upgrade_prepare.cpp
  LIBS tolvane_upgrade)

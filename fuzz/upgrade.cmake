# The upgrade workflow's reading of a firmware file it is about to flash.
tolvane_add_fuzzer(fuzz_upgrade_prepare SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_upgrade_prepare.cpp
  LIBS tolvane_upgrade)
# The run journal a previous run left behind, as the next run reads it.
tolvane_add_fuzzer(fuzz_runjournal SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_runjournal.cpp
  ${CMAKE_CURRENT_LIST_DIR}/QtJsonLeakSuppression.cpp LIBS tolvane_upgrade)

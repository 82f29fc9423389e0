# The campaign lock tolvane-cli --lock reads.
tolvane_add_fuzzer(fuzz_campaignlock SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_campaignlock.cpp
  ${CMAKE_CURRENT_LIST_DIR}/QtJsonLeakSuppression.cpp LIBS tolvane_cli)

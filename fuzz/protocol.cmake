tolvane_add_fuzzer(fuzz_fcs_feed SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_fcs_feed.cpp LIBS tolvane_protocol)
tolvane_add_fuzzer(fuzz_fcs_parsers SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_fcs_parsers.cpp LIBS tolvane_protocol)
tolvane_add_fuzzer(fuzz_update_feed SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_update_feed.cpp LIBS tolvane_protocol)

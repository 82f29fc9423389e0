tolvane_add_fuzzer(fuzz_looper SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_looper.cpp LIBS tolvane_looper)

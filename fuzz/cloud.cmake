tolvane_add_fuzzer(fuzz_catalogue SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_catalogue.cpp ${CMAKE_CURRENT_LIST_DIR}/QtJsonLeakSuppression.cpp LIBS tolvane_cloud)

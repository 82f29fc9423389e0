add_executable(bench_looper ${CMAKE_CURRENT_LIST_DIR}/bench_looper.cpp)
target_link_libraries(bench_looper PRIVATE tolvane_looper Qt5::Network)

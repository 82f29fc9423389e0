# Release archive extraction against the system's unzip command.
add_executable(bench_unzip ${CMAKE_CURRENT_LIST_DIR}/bench_unzip.cpp)
target_link_libraries(bench_unzip PRIVATE tolvane_updater_core)

# The flash history's SQLite store at 100,000 rows.
add_executable(bench_history ${CMAKE_CURRENT_LIST_DIR}/bench_history.cpp)
target_link_libraries(bench_history PRIVATE tolvane_upgrade)

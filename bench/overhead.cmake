# One whole upgrade over a paced pty against the protocol's floor, and where
# the rest goes. Takes minutes: run by hand or by scripts/bench.sh, not by CI.
if(TARGET tolvane-aircraft-sim AND TARGET tolvane-cloud-sim AND TARGET tolvane-cli)
  add_executable(bench_run_overhead ${CMAKE_CURRENT_LIST_DIR}/bench_run_overhead.cpp)
  target_link_libraries(bench_run_overhead PRIVATE tolvane_utils Qt5::Core Qt5::Network Qt5::Test)
  target_include_directories(bench_run_overhead PRIVATE
    ${PROJECT_SOURCE_DIR}/tests/support ${PROJECT_SOURCE_DIR}/upgrade)
  add_dependencies(bench_run_overhead tolvane-aircraft-sim tolvane-cloud-sim
    tolvane-cloud-sim-sample tolvane-cli)
  target_compile_definitions(bench_run_overhead PRIVATE
    TOLVANE_CLI="$<TARGET_FILE:tolvane-cli>"
    TOLVANE_CLOUD_SIM="$<TARGET_FILE:tolvane-cloud-sim>"
    TOLVANE_CLOUD_SAMPLE="${TOLVANE_CLOUDSIM_SAMPLE_DIR}"
    TOLVANE_AIRCRAFT_SIM="$<TARGET_FILE:tolvane-aircraft-sim>"
    TOLVANE_AIRCRAFT_SCENARIOS="${PROJECT_SOURCE_DIR}/tools/aircraft-sim/scenarios")
endif()

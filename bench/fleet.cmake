# Several aircraft from one tolvane-cli against one alone, over paced ptys.
if(TARGET tolvane-aircraft-sim AND TARGET tolvane-fwpack AND TARGET tolvane-cli)
  add_executable(bench_fleet ${CMAKE_CURRENT_LIST_DIR}/bench_fleet.cpp)
  target_link_libraries(bench_fleet PRIVATE Qt5::Core Qt5::Network Qt5::Test)
  target_include_directories(bench_fleet PRIVATE ${PROJECT_SOURCE_DIR}/tests/support)
  add_dependencies(bench_fleet tolvane-aircraft-sim tolvane-fwpack tolvane-cli)
  target_compile_definitions(bench_fleet PRIVATE
    TOLVANE_CLI="$<TARGET_FILE:tolvane-cli>"
    TOLVANE_AIRCRAFT_SIM="$<TARGET_FILE:tolvane-aircraft-sim>"
    TOLVANE_AIRCRAFT_SCENARIOS="${PROJECT_SOURCE_DIR}/tools/aircraft-sim/scenarios"
    TOLVANE_FWPACK="$<TARGET_FILE:tolvane-fwpack>")
endif()

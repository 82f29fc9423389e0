# Whole transfers through the upgrade workflow against the aircraft simulator.
if(TARGET tolvane-aircraft-sim)
  add_executable(bench_upgrade ${CMAKE_CURRENT_LIST_DIR}/bench_upgrade.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ZoBenchUpgradeRig.h)
  target_link_libraries(bench_upgrade PRIVATE tolvane_upgrade Qt5::Test)
  target_include_directories(bench_upgrade PRIVATE ${PROJECT_SOURCE_DIR}/tests/support ${CMAKE_CURRENT_LIST_DIR})
  add_dependencies(bench_upgrade tolvane-aircraft-sim)
  target_compile_definitions(bench_upgrade PRIVATE
    TOLVANE_AIRCRAFT_SIM="$<TARGET_FILE:tolvane-aircraft-sim>"
    TOLVANE_AIRCRAFT_SCENARIOS="${PROJECT_SOURCE_DIR}/tools/aircraft-sim/scenarios")
endif()

# The same through the main window, drawn offscreen.
if(TARGET tolvane-aircraft-sim AND TARGET tolvane_window)
  add_executable(bench_upgrade_gui ${CMAKE_CURRENT_LIST_DIR}/bench_upgrade_gui.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ZoBenchUpgradeRig.h)
  target_link_libraries(bench_upgrade_gui PRIVATE tolvane_window Qt5::Test)
  target_include_directories(bench_upgrade_gui PRIVATE
    ${PROJECT_SOURCE_DIR}/tests/support ${CMAKE_CURRENT_LIST_DIR})
  add_dependencies(bench_upgrade_gui tolvane-aircraft-sim)
  target_compile_definitions(bench_upgrade_gui PRIVATE
    TOLVANE_AIRCRAFT_SIM="$<TARGET_FILE:tolvane-aircraft-sim>"
    TOLVANE_AIRCRAFT_SCENARIOS="${PROJECT_SOURCE_DIR}/tools/aircraft-sim/scenarios")
endif()

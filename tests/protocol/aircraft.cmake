# The looper and codecs of the program against the independent aircraft
# simulator, started as a process on loopback ports and a pseudo-terminal.
if(TARGET tolvane-aircraft-sim)
  tolvane_add_test(tst_looper_aircraftsim SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_looper_aircraftsim.cpp
                   LIBS tolvane_looper tolvane_upgrade LABELS e2e TIMEOUT 180)
  add_dependencies(tst_looper_aircraftsim tolvane-aircraft-sim)
  target_compile_definitions(tst_looper_aircraftsim PRIVATE
    TOLVANE_AIRCRAFT_SIM="$<TARGET_FILE:tolvane-aircraft-sim>"
    TOLVANE_AIRCRAFT_SCENARIOS="${PROJECT_SOURCE_DIR}/tools/aircraft-sim/scenarios")
else()
  message(STATUS "tst_looper_aircraftsim needs tolvane-aircraft-sim (TOLVANE_BUILD_TOOLS=ON); not built")
endif()

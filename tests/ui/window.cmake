# The main window over the engine, driven through its widgets against both
# simulators, started as processes on loopback.
if(TARGET tolvane-aircraft-sim AND TARGET tolvane-cloud-sim)
  tolvane_add_test(tst_zotolmainwindow
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_zotolmainwindow.cpp
    LIBS tolvane_window LABELS e2e TIMEOUT 300)
  add_dependencies(tst_zotolmainwindow tolvane-aircraft-sim tolvane-cloud-sim
    tolvane-cloud-sim-sample)
  target_compile_definitions(tst_zotolmainwindow PRIVATE
    TOLVANE_AIRCRAFT_SIM="$<TARGET_FILE:tolvane-aircraft-sim>"
    TOLVANE_AIRCRAFT_SCENARIOS="${PROJECT_SOURCE_DIR}/tools/aircraft-sim/scenarios"
    TOLVANE_CLOUDSIM="$<TARGET_FILE:tolvane-cloud-sim>"
    TOLVANE_CLOUDSIM_CERT_DIR="${TOLVANE_CLOUDSIM_CERT_DIR}"
    TOLVANE_CLOUDSIM_SAMPLE_DIR="${TOLVANE_CLOUDSIM_SAMPLE_DIR}")
endif()

# tolvane-cli: its option table and verdicts in-process, and the program
# itself against the aircraft and cloud simulators on loopback. Each upgrade
# run takes the engine's real timings (3 s per bootloader entry, 1 s between
# devices, a 30 s wait for a silent core), hence the long timeout; the fleet
# runs flash two aircraft side by side. The runs mostly wait, so the test is
# split in four parts of one to two minutes that ctest runs side by side; the
# station part plugs five aircraft in and out of one station process.
if(TARGET tolvane-aircraft-sim AND TARGET tolvane-cloud-sim AND TARGET tolvane-fwpack)
  tolvane_add_test(tst_tolvanecli SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_tolvanecli.cpp
                   LIBS tolvane_cli LABELS e2e TIMEOUT 400
                   PARTS upgrade rollback
                         station
                         list,interrupted,dictionaries
                         pinnedCampaign
                         options,lock,firmwareDir,outcome,fleetExitCode,earlyExit,fleet,fleetInterrupted,history,displayWidth)
  add_dependencies(tst_tolvanecli tolvane-cli tolvane-aircraft-sim tolvane-cloud-sim tolvane-fwpack)
  target_compile_definitions(tst_tolvanecli PRIVATE
    TOLVANE_CLI="$<TARGET_FILE:tolvane-cli>"
    TOLVANE_AIRCRAFT_SIM="$<TARGET_FILE:tolvane-aircraft-sim>"
    TOLVANE_AIRCRAFT_SCENARIOS="${PROJECT_SOURCE_DIR}/tools/aircraft-sim/scenarios"
    TOLVANE_CLOUDSIM="$<TARGET_FILE:tolvane-cloud-sim>"
    TOLVANE_CLOUDSIM_CERT_DIR="${TOLVANE_CLOUDSIM_CERT_DIR}"
    TOLVANE_FWPACK="$<TARGET_FILE:tolvane-fwpack>")
else()
  message(STATUS "tst_tolvanecli needs the simulators and tolvane-fwpack (TOLVANE_BUILD_TOOLS=ON); not built")
endif()

# Samples of the crash sweep (tolvane-cli killed mid-flash at three points,
# then run again from the same station or a fresh one) and of the bad line
# (one upgrade on a seeded bad line); scripts/crash-sweep.sh and
# scripts/chaos-seeds.sh run all of them. They mostly wait, for minutes, so
# they are started first. Behaviour, not memory: the sanitizer build leaves
# them out.
if(TARGET tolvane-cli AND TARGET tolvane-aircraft-sim AND TARGET tolvane-fwpack
   AND TARGET tolvane-cloud-sim AND NOT TOLVANE_SANITIZE)
  add_test(NAME crash_sweep_sample COMMAND ${PROJECT_SOURCE_DIR}/scripts/crash-sweep.sh --sample)
  add_test(NAME chaos_seeds_sample COMMAND ${PROJECT_SOURCE_DIR}/scripts/chaos-seeds.sh --sample)
  set_tests_properties(crash_sweep_sample chaos_seeds_sample PROPERTIES LABELS "unit;e2e"
    TIMEOUT 600 COST 1000 ENVIRONMENT "BUILD_DIR=${CMAKE_BINARY_DIR}")
endif()

tolvane_add_test(tst_zoupgradeworkflow SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_zoupgradeworkflow.cpp
                 LIBS tolvane_upgrade)

# The engine against both simulators, started as processes on loopback; the
# fault and trust tables, a minute each of mostly waiting, run beside the rest.
if(TARGET tolvane-aircraft-sim AND TARGET tolvane-cloud-sim)
  tolvane_add_test(tst_zoupgradeworkflow_sim
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_zoupgradeworkflow_sim.cpp
    LIBS tolvane_upgrade LABELS e2e TIMEOUT 300
    PARTS faults trust,blockedOwnerThread
    upgradeAll,manualAddAddressesTheNode,twinCompasses,strandedFromCache,catalogueInSearchProbeOnce)
  add_dependencies(tst_zoupgradeworkflow_sim tolvane-aircraft-sim tolvane-cloud-sim
    tolvane-cloud-sim-sample)
  target_compile_definitions(tst_zoupgradeworkflow_sim PRIVATE
    TOLVANE_AIRCRAFT_SIM="$<TARGET_FILE:tolvane-aircraft-sim>"
    TOLVANE_AIRCRAFT_SCENARIOS="${PROJECT_SOURCE_DIR}/tools/aircraft-sim/scenarios"
    TOLVANE_CLOUDSIM="$<TARGET_FILE:tolvane-cloud-sim>"
    TOLVANE_CLOUDSIM_CERT_DIR="${TOLVANE_CLOUDSIM_CERT_DIR}"
    TOLVANE_CLOUDSIM_SAMPLE_DIR="${TOLVANE_CLOUDSIM_SAMPLE_DIR}")
endif()
tolvane_add_test(tst_zoupgradepolicy SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_zoupgradepolicy.cpp
  LIBS tolvane_upgrade)
tolvane_add_test(tst_zotransfersession
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_zotransfersession.cpp LIBS tolvane_upgrade)
tolvane_add_test(tst_zorunjournal SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_zorunjournal.cpp
  LIBS tolvane_upgrade)
tolvane_add_test(tst_zoflashhistory SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_zoflashhistory.cpp
  LIBS tolvane_upgrade)
tolvane_add_test(tst_zoprotocollease SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_zoprotocollease.cpp
  LIBS tolvane_upgrade)
tolvane_add_test(tst_zobootloaderprobe
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_zobootloaderprobe.cpp LIBS tolvane_upgrade)
tolvane_add_test(tst_zoupgraderun SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_zoupgraderun.cpp
  LIBS tolvane_upgrade)
tolvane_add_test(tst_zofirmwaresource SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_zofirmwaresource.cpp
  LIBS tolvane_upgrade)
tolvane_add_test(tst_zoimagecache SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_zoimagecache.cpp
  LIBS tolvane_upgrade)
tolvane_add_test(tst_zorollbackplan SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_zorollbackplan.cpp
  LIBS tolvane_upgrade)

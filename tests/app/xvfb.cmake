# The Tolvane program itself, copied alone with the updater beside it, on a
# private X display against both simulators. Tolvane is only defined after
# the tests (with the packaging), so its library stands in for it here; the
# generator expressions resolve once every target is known.
if(TARGET tolvane_window AND TARGET ZoHaldenUpdate AND TARGET tolvane-aircraft-sim
   AND TARGET tolvane-cloud-sim AND TARGET tolvane-xshot AND TARGET tolvane-dictionaries)
  tolvane_add_test(tst_tolvanexvfb SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_tolvanexvfb.cpp
    LIBS tolvane_types Qt5::Gui LABELS e2e TIMEOUT 180)
  add_dependencies(tst_tolvanexvfb Tolvane ZoHaldenUpdate tolvane-aircraft-sim tolvane-cloud-sim
    tolvane-cloud-sim-sample tolvane-xshot tolvane-dictionaries)
  target_compile_definitions(tst_tolvanexvfb PRIVATE
    TOLVANE_PROGRAM="$<TARGET_FILE:Tolvane>"
    TOLVANE_XSHOT="$<TARGET_FILE:tolvane-xshot>"
    TOLVANE_UPDATER="$<TARGET_FILE:ZoHaldenUpdate>"
    TOLVANE_AIRCRAFT_SIM="$<TARGET_FILE:tolvane-aircraft-sim>"
    TOLVANE_AIRCRAFT_SCENARIOS="${PROJECT_SOURCE_DIR}/tools/aircraft-sim/scenarios"
    TOLVANE_CLOUDSIM="$<TARGET_FILE:tolvane-cloud-sim>"
    TOLVANE_CLOUDSIM_CERT_DIR="${TOLVANE_CLOUDSIM_CERT_DIR}"
    TOLVANE_CLOUDSIM_SAMPLE_DIR="${TOLVANE_CLOUDSIM_SAMPLE_DIR}")
else()
  message(STATUS "tst_tolvanexvfb needs Tolvane, ZoHaldenUpdate, the simulators, tolvane-xshot and the dictionaries; not built")
endif()

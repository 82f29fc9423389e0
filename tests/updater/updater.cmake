# The updater's back end: extraction, downloads, the release check.
tolvane_add_test(tst_zoziphelper SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_zoziphelper.cpp LIBS tolvane_updater_core)
tolvane_add_test(tst_zodownloadmanager SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_zodownloadmanager.cpp LIBS tolvane_updater_core)
if(TARGET tolvane-cloud-sim)
  tolvane_add_test(tst_zohttphelper SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_zohttphelper.cpp LIBS tolvane_updater_core TIMEOUT 180)
  target_compile_definitions(tst_zohttphelper PRIVATE
    TOLVANE_CLOUDSIM="$<TARGET_FILE:tolvane-cloud-sim>"
    TOLVANE_CLOUDSIM_CERT_DIR="${TOLVANE_CLOUDSIM_CERT_DIR}")
  add_dependencies(tst_zohttphelper tolvane-cloud-sim tolvane-cloud-sim-cert)
endif()
# The updater's start-up decisions and its window.
tolvane_add_test(tst_zohaldenstartup SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_zohaldenstartup.cpp
  LIBS tolvane_updater_ui)
if(TARGET tolvane-cloud-sim AND TARGET tst_platform_helper)
  tolvane_add_test(tst_zohaldenupdateform SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_zohaldenupdateform.cpp
    LIBS tolvane_updater_ui TIMEOUT 180)
  target_compile_definitions(tst_zohaldenupdateform PRIVATE
    TOLVANE_CLOUDSIM="$<TARGET_FILE:tolvane-cloud-sim>"
    TOLVANE_CLOUDSIM_CERT_DIR="${TOLVANE_CLOUDSIM_CERT_DIR}"
    TOLVANE_PLATFORM_HELPER="$<TARGET_FILE:tst_platform_helper>")
  add_dependencies(tst_zohaldenupdateform tolvane-cloud-sim tst_platform_helper)
endif()
# Tolvane and ZoHaldenUpdate as real processes on a private X display.
# Tolvane itself is defined after the tests, once its window library is known.
if(TARGET tolvane-cloud-sim AND TARGET tolvane_window AND TARGET ZoHaldenUpdate AND TARGET tolvane-xshot
   AND TARGET tolvane-dictionaries)
  tolvane_add_test(tst_haldenupdatehandoff SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_haldenupdatehandoff.cpp
    LIBS tolvane_platform tolvane_updater_core TIMEOUT 240)
  target_compile_definitions(tst_haldenupdatehandoff PRIVATE
    TOLVANE_CLOUDSIM="$<TARGET_FILE:tolvane-cloud-sim>"
    TOLVANE_CLOUDSIM_CERT_DIR="${TOLVANE_CLOUDSIM_CERT_DIR}"
    TOLVANE_PROGRAM="$<TARGET_FILE:Tolvane>"
    TOLVANE_UPDATER="$<TARGET_FILE:ZoHaldenUpdate>"
    TOLVANE_XSHOT="$<TARGET_FILE:tolvane-xshot>"
    TOLVANE_DICT_DIR="${TOLVANE_DICT_DIR}")
  add_dependencies(tst_haldenupdatehandoff tolvane-cloud-sim Tolvane ZoHaldenUpdate tolvane-xshot
    tolvane-dictionaries)
endif()
if(TARGET tolvane-cloud-sim AND TARGET tolvane-xshot)
  tolvane_add_test(tst_haldenupdateprogram SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_haldenupdateprogram.cpp
    TIMEOUT 180)
  target_compile_definitions(tst_haldenupdateprogram PRIVATE
    TOLVANE_CLOUDSIM="$<TARGET_FILE:tolvane-cloud-sim>"
    TOLVANE_CLOUDSIM_CERT_DIR="${TOLVANE_CLOUDSIM_CERT_DIR}"
    TOLVANE_UPDATER="$<TARGET_FILE:ZoHaldenUpdate>"
    TOLVANE_XSHOT="$<TARGET_FILE:tolvane-xshot>")
  add_dependencies(tst_haldenupdateprogram tolvane-cloud-sim ZoHaldenUpdate)
endif()

# The tests that run real programs on a private X display take turns: two
# displays coming up side by side under load have lost a client's connection.
foreach(t tst_haldenupdatehandoff tst_haldenupdateprogram tst_tolvanexvfb)
  if(TEST ${t})
    set_tests_properties(${t} PROPERTIES RESOURCE_LOCK xdisplay)
  endif()
endforeach()

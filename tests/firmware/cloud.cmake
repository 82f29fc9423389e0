# The cloud client against the cloud simulator over HTTP and HTTPS on loopback.
if(TARGET tolvane-cloud-sim)
  tolvane_add_test(tst_zonimbrahttphelper SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_zonimbrahttphelper.cpp
                   LIBS tolvane_cloud TIMEOUT 180)
  add_dependencies(tst_zonimbrahttphelper tolvane-cloud-sim tolvane-cloud-sim-cert)
  target_compile_definitions(tst_zonimbrahttphelper PRIVATE
    TOLVANE_CLOUDSIM="$<TARGET_FILE:tolvane-cloud-sim>"
    TOLVANE_CLOUDSIM_CERT_DIR="${TOLVANE_CLOUDSIM_CERT_DIR}")
  # Waits out the real 10 s timeout; its cases run side by side.
  tolvane_add_test(tst_zonimbrahttphelper_field
                   SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_zonimbrahttphelper_field.cpp
                   LIBS tolvane_cloud LABELS slow TIMEOUT 240)
  add_dependencies(tst_zonimbrahttphelper_field tolvane-cloud-sim)
  target_compile_definitions(tst_zonimbrahttphelper_field PRIVATE
    TOLVANE_CLOUDSIM="$<TARGET_FILE:tolvane-cloud-sim>"
    TOLVANE_CLOUDSIM_CERT_DIR="${TOLVANE_CLOUDSIM_CERT_DIR}")
else()
  message(STATUS "tst_zonimbrahttphelper needs tolvane-cloud-sim (TOLVANE_BUILD_TOOLS=ON); not built")
endif()

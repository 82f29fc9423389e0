# The cloud client against the cloud simulator over HTTP and HTTPS on loopback.
if(TARGET tolvane-cloud-sim)
  tolvane_add_test(tst_zonimbrahttphelper SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_zonimbrahttphelper.cpp
                   LIBS tolvane_cloud TIMEOUT 180)
  add_dependencies(tst_zonimbrahttphelper tolvane-cloud-sim tolvane-cloud-sim-cert)
  target_compile_definitions(tst_zonimbrahttphelper PRIVATE
    TOLVANE_CLOUDSIM="$<TARGET_FILE:tolvane-cloud-sim>"
    TOLVANE_CLOUDSIM_CERT_DIR="${TOLVANE_CLOUDSIM_CERT_DIR}")
else()
  message(STATUS "tst_zonimbrahttphelper needs tolvane-cloud-sim (TOLVANE_BUILD_TOOLS=ON); not built")
endif()

# The cloud simulator and the firmware packer are run as the programs they
# are, through QProcess, and spoken to over loopback.
if(TARGET tolvane-cloud-sim)
  tolvane_add_test(tst_cloudsim SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_cloudsim.cpp
    LIBS Qt5::Network LABELS tools TIMEOUT 180)
  target_compile_definitions(tst_cloudsim PRIVATE
    TOLVANE_CLOUDSIM="$<TARGET_FILE:tolvane-cloud-sim>"
    TOLVANE_CLOUDSIM_CERT_DIR="${TOLVANE_CLOUDSIM_CERT_DIR}")
  add_dependencies(tst_cloudsim tolvane-cloud-sim tolvane-cloud-sim-cert)
endif()
if(TARGET tolvane-fwpack)
  tolvane_add_test(tst_fwpack SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_fwpack.cpp LABELS tools)
  target_compile_definitions(tst_fwpack PRIVATE TOLVANE_FWPACK_EXE="$<TARGET_FILE:tolvane-fwpack>")
  add_dependencies(tst_fwpack tolvane-fwpack)
endif()

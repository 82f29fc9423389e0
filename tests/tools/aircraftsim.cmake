# The aircraft simulator's own tests: they drive its engine in-process and
# over real sockets and pseudo-terminals, and link nothing of the program.
if(TARGET tolvane_acsim)
  tolvane_add_test(tst_acsimwire SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_acsimwire.cpp ${CMAKE_CURRENT_LIST_DIR}/AcSimRig.h
                   LIBS tolvane_acsim LABELS tools)
  tolvane_add_test(tst_acsimfaults SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_acsimfaults.cpp ${CMAKE_CURRENT_LIST_DIR}/AcSimRig.h
                   LIBS tolvane_acsim LABELS tools)
  tolvane_add_test(tst_acsimlinks SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_acsimlinks.cpp ${CMAKE_CURRENT_LIST_DIR}/AcSimRig.h
                   LIBS tolvane_acsim LABELS tools)
  # The command-line cases run the program itself: never a stale or missing one.
  add_dependencies(tst_acsimlinks tolvane-aircraft-sim)
  target_compile_definitions(tst_acsimlinks PRIVATE
    TOLVANE_AIRCRAFT_SIM_EXE="$<TARGET_FILE:tolvane-aircraft-sim>")
endif()

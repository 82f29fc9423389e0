# The aircraft simulator parses whatever the program (or anything else) sends
# it, and scenario files written by hand.
if(TARGET tolvane_acsim)
  tolvane_add_fuzzer(fuzz_aircraftsim SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_aircraftsim.cpp ${CMAKE_CURRENT_LIST_DIR}/QtJsonLeakSuppression.cpp LIBS tolvane_acsim)
endif()

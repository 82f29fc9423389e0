# The updater reads two things from outside: the release archive it extracts
# over the installation, and the cloud's reply to its release check.
tolvane_add_fuzzer(fuzz_upzip SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_upzip.cpp
  LIBS tolvane_updater_core ${CMAKE_DL_LIBS})
tolvane_add_fuzzer(fuzz_haldencheck SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_haldencheck.cpp ${CMAKE_CURRENT_LIST_DIR}/QtJsonLeakSuppression.cpp
  LIBS tolvane_updater_core)
# And the language settings file beside it.
tolvane_add_fuzzer(fuzz_languagesetting SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_languagesetting.cpp
  LIBS tolvane_updater_ui)

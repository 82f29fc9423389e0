# The updater's back end: extraction, downloads, the release check.
tolvane_add_test(tst_zoziphelper SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_zoziphelper.cpp LIBS tolvane_updater_core)

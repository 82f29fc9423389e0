# Tolvane's start-up against a helper program copied into scratch folders
# under unique names.
add_executable(tst_startup_fakeupdater ${CMAKE_CURRENT_LIST_DIR}/startup_fakeupdater.cpp)
tolvane_add_test(tst_zostartup SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_zostartup.cpp
  LIBS tolvane_startup)
add_dependencies(tst_zostartup tst_startup_fakeupdater)
target_compile_definitions(tst_zostartup PRIVATE QT_NO_CAST_FROM_ASCII
  TOLVANE_FAKE_UPDATER="$<TARGET_FILE:tst_startup_fakeupdater>")


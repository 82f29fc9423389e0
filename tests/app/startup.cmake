# The platform layer and Tolvane's start-up, each against helper programs
# copied into scratch folders under unique names.
add_executable(tst_platform_helper ${CMAKE_CURRENT_LIST_DIR}/platform_helper.cpp)
add_executable(tst_platform_selfkill ${CMAKE_CURRENT_LIST_DIR}/platform_selfkill.cpp)
target_link_libraries(tst_platform_selfkill PRIVATE tolvane_platform)
target_compile_definitions(tst_platform_selfkill PRIVATE QT_NO_CAST_FROM_ASCII)

tolvane_add_test(tst_zoplatform SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_zoplatform.cpp
  LIBS tolvane_platform)
add_dependencies(tst_zoplatform tst_platform_helper tst_platform_selfkill)
target_compile_definitions(tst_zoplatform PRIVATE QT_NO_CAST_FROM_ASCII
  TOLVANE_PLATFORM_HELPER="$<TARGET_FILE:tst_platform_helper>"
  TOLVANE_PLATFORM_SELFKILL="$<TARGET_FILE:tst_platform_selfkill>")

add_executable(tst_startup_fakeupdater ${CMAKE_CURRENT_LIST_DIR}/startup_fakeupdater.cpp)
tolvane_add_test(tst_zostartup SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_zostartup.cpp
  LIBS tolvane_startup)
add_dependencies(tst_zostartup tst_startup_fakeupdater)
target_compile_definitions(tst_zostartup PRIVATE QT_NO_CAST_FROM_ASCII
  TOLVANE_FAKE_UPDATER="$<TARGET_FILE:tst_startup_fakeupdater>")

# The platform layer against helper programs copied into scratch folders under
# unique names.
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


# The Windows side of the platform layer is never built on this machine; a
# cross compiler at least holds it to the shared header, its types and the
# system calls it names.
find_program(TOLVANE_MINGW_CXX NAMES x86_64-w64-mingw32-g++-posix x86_64-w64-mingw32-g++)
if(TOLVANE_MINGW_CXX)
  get_target_property(_tolvane_qtcore_includes Qt5::Core INTERFACE_INCLUDE_DIRECTORIES)
  set(_tolvane_win_flags)
  foreach(dir IN LISTS _tolvane_qtcore_includes)
    list(APPEND _tolvane_win_flags -isystem ${dir})
  endforeach()
  add_test(NAME win_platform_compiles
    COMMAND ${TOLVANE_MINGW_CXX} -std=c++17 -fsyntax-only -Wall -Wextra -Werror
      ${_tolvane_win_flags} -I${PROJECT_SOURCE_DIR}/platform -I${PROJECT_SOURCE_DIR}/utils
      ${PROJECT_SOURCE_DIR}/platform/ZoPlatform_win.cpp
      ${PROJECT_SOURCE_DIR}/platform/ZoPlatform.cpp)
  set_tests_properties(win_platform_compiles PROPERTIES LABELS unit)
else()
  message(STATUS "win_platform_compiles needs x86_64-w64-mingw32-g++; not run")
endif()

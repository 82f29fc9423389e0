# Not a test: renders every form in English and Chinese to PNG files for
# people to look at (scripts/screenshots.sh runs it offscreen).
add_executable(tolvane-form-screenshots ${CMAKE_CURRENT_LIST_DIR}/zoformscreenshots.cpp)
target_link_libraries(tolvane-form-screenshots PRIVATE tolvane_forms tolvane_toolkit)
if(TARGET tolvane_app_resources)
  target_link_libraries(tolvane-form-screenshots PRIVATE tolvane_app_resources)
endif()
if(TARGET tolvane_toolkit_resources)
  target_link_libraries(tolvane-form-screenshots PRIVATE tolvane_toolkit_resources)
endif()
target_compile_definitions(tolvane-form-screenshots PRIVATE QT_NO_CAST_FROM_ASCII)
if(TARGET tolvane_window)
  target_link_libraries(tolvane-form-screenshots PRIVATE tolvane_window)
endif()

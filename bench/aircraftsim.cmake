# How closely the aircraft simulator's paced pseudo-terminal keeps its baud rate.
if(TARGET tolvane_acsim)
  add_executable(bench_pty_pacing ${CMAKE_CURRENT_LIST_DIR}/bench_pty_pacing.cpp)
  target_link_libraries(bench_pty_pacing PRIVATE tolvane_acsim)
endif()

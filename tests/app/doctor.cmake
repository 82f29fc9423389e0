# tolvane-cli --doctor: its checks against scratch folders, a pty and
# loopback servers, and the program's own lines.
tolvane_add_test(tst_zoclidoctor SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_zoclidoctor.cpp
  LIBS tolvane_cli)
add_dependencies(tst_zoclidoctor tolvane-cli)
target_compile_definitions(tst_zoclidoctor PRIVATE QT_NO_CAST_FROM_ASCII
  TOLVANE_CLI="$<TARGET_FILE:tolvane-cli>")

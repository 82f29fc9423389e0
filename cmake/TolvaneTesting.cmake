# tolvane_add_test(<name> SOURCES <files...> [LIBS <targets...>] [LABELS <labels...>]
#                  [TIMEOUT <seconds>] [ENV <VAR=value...>] [PARTS <functions,...>...])
# One Qt Test executable registered with CTest. Widget tests run offscreen; the
# cloud and GCPM endpoints are pointed at loopback so nothing can leave the box.
# A test in a folder without its own configuration reads and writes a per-user
# folder of its own in the build tree, never the developer's ~/.config.
# PARTS splits a long test that mostly waits into CTest tests <name>-1, -2, ...,
# each running the comma-separated test functions given, so that `ctest -j`
# runs them side by side; together they must name every test function.
function(tolvane_add_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;LABELS;ENV;PARTS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} tolvane_testsupport Qt5::Test)
  target_compile_definitions(${name} PRIVATE
    TOLVANE_TEST_DATA_DIR="${PROJECT_SOURCE_DIR}/tests/data"
    TOLVANE_BINARY_DIR="${PROJECT_BINARY_DIR}")
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  if(NOT T_PARTS)
    _tolvane_register_test(${name} ${name})
    return()
  endif()
  # A test function left out of every part would silently never run.
  list(GET T_SOURCES 0 source)
  file(STRINGS ${source} slots REGEX "^    void [A-Za-z0-9_]+\\(\\)$")
  string(REPLACE "," ";" named "${T_PARTS}")
  foreach(slot ${slots})
    string(REGEX REPLACE "^    void ([A-Za-z0-9_]+)\\(\\)$" "\\1" slot "${slot}")
    if(NOT slot MATCHES "_data$|^(init|cleanup)(TestCase)?$" AND NOT slot IN_LIST named)
      message(FATAL_ERROR "${name}: test function ${slot} is in none of its PARTS")
    endif()
  endforeach()
  set(n 0)
  foreach(part ${T_PARTS})
    math(EXPR n "${n} + 1")
    string(REPLACE "," ";" functions "${part}")
    _tolvane_register_test(${name}-${n} ${name} ${functions})
  endforeach()
endfunction()

# One CTest test running <executable> [test functions...], with the settings
# of tolvane_add_test's caller (T_TIMEOUT, T_LABELS, T_ENV). The timeout is
# also its cost: without timings of an earlier run (a fresh build), ctest -j
# starts the long tests first instead of leaving them for the end.
function(_tolvane_register_test test executable)
  add_test(NAME ${test} COMMAND ${executable} ${ARGN})
  set_tests_properties(${test} PROPERTIES
    TIMEOUT ${T_TIMEOUT}
    COST ${T_TIMEOUT}
    LABELS "unit;${T_LABELS}"
    ENVIRONMENT "XDG_CONFIG_HOME=${PROJECT_BINARY_DIR}/tests/config-home/${test};QT_QPA_PLATFORM=offscreen;TOLVANE_GCPM_HOST=127.0.0.1;TOLVANE_GCPM_PORT=1;TOLVANE_CLOUD_URL=http://127.0.0.1:1;${T_ENV}")
endfunction()

# tolvane_add_fuzzer(<name> SOURCES <files...> [LIBS <targets...>] [SECONDS <n>])
# A libFuzzer harness, run for a bounded time as a CTest test labelled "fuzz".
function(tolvane_add_fuzzer name)
  cmake_parse_arguments(F "" "SECONDS" "SOURCES;LIBS" ${ARGN})
  if(NOT F_SECONDS)
    set(F_SECONDS ${TOLVANE_FUZZ_SECONDS})
  endif()
  add_executable(${name} ${F_SOURCES})
  target_link_libraries(${name} PRIVATE ${F_LIBS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  set(corpus ${CMAKE_CURRENT_BINARY_DIR}/corpus-${name})
  set(seeds ${PROJECT_SOURCE_DIR}/fuzz/corpus/${name})
  add_test(NAME ${name}
    COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen
            sh -c "mkdir -p '${corpus}' && exec \"$0\" -max_total_time=${F_SECONDS} -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 '${corpus}' $(test -d '${seeds}' && echo '${seeds}')"
            $<TARGET_FILE:${name}>)
  math(EXPR limit "${F_SECONDS} + 120")
  set_tests_properties(${name} PROPERTIES LABELS "fuzz" TIMEOUT ${limit})
endfunction()

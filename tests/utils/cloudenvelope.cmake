tolvane_add_test(tst_zocloudenvelope SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_zocloudenvelope.cpp
  LIBS tolvane_cloudenvelope)

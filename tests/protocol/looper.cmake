tolvane_add_test(tst_zotelemetryqueue SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_zotelemetryqueue.cpp LIBS tolvane_looper)
tolvane_add_test(tst_zogcpmprotocol SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_zogcpmprotocol.cpp LIBS tolvane_looper)
tolvane_add_test(tst_zomsglooper SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_zomsglooper.cpp LIBS tolvane_looper
  TIMEOUT 240)

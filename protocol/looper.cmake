# The message looper: the worker thread that owns the data link and both
# codecs, its record queues and the GCPM announcer.
add_library(tolvane_looper STATIC
  ${CMAKE_CURRENT_LIST_DIR}/ZoTelemetryQueue.h
  ${CMAKE_CURRENT_LIST_DIR}/ZoTelemetryQueue.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ZoGcpmProtocol.h
  ${CMAKE_CURRENT_LIST_DIR}/ZoGcpmProtocol.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ZoMsgLooper.h
  ${CMAKE_CURRENT_LIST_DIR}/ZoMsgLooper.cpp)
target_include_directories(tolvane_looper PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(tolvane_looper PUBLIC
  tolvane_protocol tolvane_comm tolvane_utils tolvane_config tolvane_types
  Qt5::Core Qt5::Network)
target_compile_definitions(tolvane_looper PRIVATE QT_NO_CAST_FROM_ASCII)

# Frame codecs, the flight-controller command set, the bootloader transfer
# protocol and its cipher. Plain C++ on top of Qt Core: no sockets, no widgets.
add_library(tolvane_protocol STATIC
  ${CMAKE_CURRENT_LIST_DIR}/IReceivePackage.h
  ${CMAKE_CURRENT_LIST_DIR}/ZoFrameCutter.h
  ${CMAKE_CURRENT_LIST_DIR}/ZoFrameCutter.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ZoProtocolBase.h
  ${CMAKE_CURRENT_LIST_DIR}/ZoProtocolBase.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ZoFcsProtocolBase.h
  ${CMAKE_CURRENT_LIST_DIR}/ZoFcsProtocolBase.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ZoFirmwareUpdateProtocol.h
  ${CMAKE_CURRENT_LIST_DIR}/ZoFirmwareUpdateProtocol.cpp
  ${CMAKE_CURRENT_LIST_DIR}/AESCrypt.h
  ${CMAKE_CURRENT_LIST_DIR}/AESCrypt.cpp
  ${CMAKE_CURRENT_LIST_DIR}/AES.h
  ${CMAKE_CURRENT_LIST_DIR}/AES.cpp)
target_include_directories(tolvane_protocol PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(tolvane_protocol PUBLIC tolvane_types Qt5::Core)

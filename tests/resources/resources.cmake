# The compiled pictures: every path the programs name is there, at its size.
tolvane_add_test(tst_pictures
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_pictures.cpp
  LIBS tolvane_utils tolvane_app_resources tolvane_toolkit_resources Qt5::Gui)
target_compile_definitions(tst_pictures PRIVATE TOLVANE_SOURCE_DIR="${PROJECT_SOURCE_DIR}")

# Registration without Q_INIT_RESOURCE, also when the pictures reach the
# program only through a static library (as toolkit's do).
add_library(tolvane_test_pictureuser STATIC
  ${CMAKE_CURRENT_LIST_DIR}/pictureuser.cpp ${CMAKE_CURRENT_LIST_DIR}/pictureuser.h)
target_link_libraries(tolvane_test_pictureuser PUBLIC Qt5::Gui PRIVATE tolvane_toolkit_resources)
tolvane_add_test(tst_picturelink
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_picturelink.cpp
  LIBS tolvane_test_pictureuser)
target_include_directories(tst_picturelink PRIVATE ${CMAKE_CURRENT_LIST_DIR})

tolvane_add_test(tst_chimes SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_chimes.cpp)
add_dependencies(tst_chimes tolvane_audio)

# Every key the code uses has a real text in both dictionaries; the build
# makes the dictionaries the program loads.
if(TARGET tolvane-dictionaries AND TOLVANE_LUPDATE)
  tolvane_add_test(tst_dictionaries SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_dictionaries.cpp
    LIBS tolvane_updater_resources tolvane_dictionary_resources)
  add_dependencies(tst_dictionaries tolvane-dictionaries)
  target_compile_definitions(tst_dictionaries PRIVATE
    TOLVANE_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    TOLVANE_LUPDATE="${TOLVANE_LUPDATE}"
    TOLVANE_DICT_DIR="${TOLVANE_DICT_DIR}")
endif()

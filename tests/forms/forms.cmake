# The secondary forms, driven through their real widgets offscreen. The
# pictures are linked when they are built, but every form must also work
# without them.
set(forms_test_libs tolvane_forms)
if(TARGET tolvane_app_resources)
  list(APPEND forms_test_libs tolvane_app_resources)
endif()

tolvane_add_test(tst_zodatalinksettingform
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_zodatalinksettingform.cpp LIBS ${forms_test_libs})
tolvane_add_test(tst_zodeviceinfoforms
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_zodeviceinfoforms.cpp LIBS ${forms_test_libs})
tolvane_add_test(tst_zoselectionforms
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_zoselectionforms.cpp LIBS ${forms_test_libs})
tolvane_add_test(tst_zohistoryform
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_zohistoryform.cpp LIBS ${forms_test_libs})

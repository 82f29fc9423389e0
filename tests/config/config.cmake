# sysconfig.xml byte-exact checks need a fixed attribute order, which Qt's DOM
# only gives with a fixed hash seed.
tolvane_add_test(tst_zoconfigutils SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_zoconfigutils.cpp
  LIBS tolvane_config ENV QT_HASH_SEED=0)
tolvane_add_test(tst_zotvkinstance SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_zotvkinstance.cpp
  LIBS tolvane_config)

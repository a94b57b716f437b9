# The favourites dialogs over the real store, the saved file read back by Python and the volume
# records in a real Vellix.dat; the Chinese run takes their screenshots in the other language.
vx_add_test(favdlg_test SOURCES favdlg_test.cpp $<TARGET_OBJECTS:vxuires> LIBS vxui_testsupport vxcore_dbsupport vxlangres GUI)
add_test(NAME favdlg_zh_test COMMAND favdlg_test --gtest_brief=1 --gtest_filter=*Screenshot*)
set_tests_properties(favdlg_zh_test PROPERTIES TIMEOUT 120 LABELS gui ENVIRONMENT VELLIX_TEST_LANG=zh_CN.UTF-8)

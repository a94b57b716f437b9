# The zip progress dialog over the real packing worker and database; its screenshot also in Chinese.
vx_add_test(zipprogress_test SOURCES zipprogress_test.cpp $<TARGET_OBJECTS:vxuires> LIBS vxui_testsupport vxcore_dbsupport vxlangres GUI)
add_test(NAME zipprogress_zh_test COMMAND zipprogress_test --gtest_brief=1 --gtest_filter=*Screenshot*)
set_tests_properties(zipprogress_zh_test PROPERTIES TIMEOUT 120 LABELS gui ENVIRONMENT VELLIX_TEST_LANG=zh_CN.UTF-8)

# The task management and repair dialogs over a real database; their screenshots also in Chinese.
vx_add_test(manage_test SOURCES manage_test.cpp $<TARGET_OBJECTS:vxuires> LIBS vxui_testsupport vxcore_dbsupport vxlangres GUI)
add_test(NAME manage_zh_test COMMAND manage_test --gtest_brief=1 --gtest_filter=*Screenshot*:*Texts*)
set_tests_properties(manage_zh_test PROPERTIES TIMEOUT 120 LABELS gui ENVIRONMENT VELLIX_TEST_LANG=zh_CN.UTF-8)

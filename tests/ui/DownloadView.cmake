# The download view over a real Vellix.dat and the real built-in downloader; its screenshot also in
# Chinese.
vx_add_test(downloadview_test SOURCES downloadview_test.cpp $<TARGET_OBJECTS:vxuires>
            LIBS vxui_testsupport vxcore_dbsupport vxlangres GUI)
add_test(NAME downloadview_zh_test COMMAND downloadview_test --gtest_brief=1 --gtest_filter=*Screenshot*)
set_tests_properties(downloadview_zh_test PROPERTIES TIMEOUT 120 LABELS gui ENVIRONMENT VELLIX_TEST_LANG=zh_CN.UTF-8)

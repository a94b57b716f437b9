# The download view over a real Vellix.dat and the real built-in downloader; its screenshot also in
# Chinese.
vx_add_test(downloadview_test SOURCES downloadview_test.cpp $<TARGET_OBJECTS:vxuires>
            LIBS vxui_testsupport vxcore_dbsupport vxlangres GUI)
add_test(NAME downloadview_zh_test COMMAND downloadview_test --gtest_brief=1 --gtest_filter=*Screenshot*)
set_tests_properties(downloadview_zh_test PROPERTIES TIMEOUT 120 LABELS gui ENVIRONMENT VELLIX_TEST_LANG=zh_CN.UTF-8)
# Real downloads of the demo volumes shown by the view, against the reference service.
vx_add_test(downloadview_live_test SOURCES downloadview_live_test.cpp $<TARGET_OBJECTS:vxuires>
            $<TARGET_OBJECTS:vx_test_service_root> LIBS vxui_testsupport vxcore_downloadsupport vxcore_dbsupport vxlangres GUI)
target_include_directories(downloadview_live_test PRIVATE ${CMAKE_SOURCE_DIR}/tests/core)
set_tests_properties(downloadview_live_test PROPERTIES RESOURCE_LOCK vellix_test_service)

# The settings sheet over a real Vellix.dat, the test downloader plug-in and the reference service
# on the tests' port; the Chinese run checks the pages' texts and layout and takes their screenshots.
vx_add_test(settings_test SOURCES settings_test.cpp $<TARGET_OBJECTS:vxuires> $<TARGET_OBJECTS:vx_test_service_root>
            LIBS vxui_testsupport vxcore_servicesupport vxlangres GUI)
target_include_directories(settings_test PRIVATE ${CMAKE_SOURCE_DIR}/tests/core)
add_dependencies(settings_test kestrade_test)
set_tests_properties(settings_test PROPERTIES RESOURCE_LOCK vellix_test_service)
add_test(NAME settings_zh_test COMMAND settings_test --gtest_brief=1 --gtest_filter=*TextsAndLayout:*Screenshots)
set_tests_properties(settings_zh_test PROPERTIES TIMEOUT 120 LABELS gui RESOURCE_LOCK vellix_test_service
                     ENVIRONMENT VELLIX_TEST_LANG=zh_CN.UTF-8)

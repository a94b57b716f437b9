# The search results tab in the real main frame against the reference service; the Chinese run
# takes its screenshot with the other built-in texts.
vx_add_test(searchview_test SOURCES searchview_test.cpp $<TARGET_OBJECTS:vx_test_service_root>
            LIBS vxui vxuires vxlangres vxcore_servicesupport vxui_testsupport GUI)
target_include_directories(searchview_test PRIVATE ${CMAKE_SOURCE_DIR}/tests/core)
set_tests_properties(searchview_test PROPERTIES RESOURCE_LOCK vellix_test_service)
add_test(NAME searchview_zh_test COMMAND searchview_test --gtest_brief=1 --gtest_filter=*Screenshot*)
set_tests_properties(searchview_zh_test PROPERTIES TIMEOUT 120 LABELS gui RESOURCE_LOCK vellix_test_service
                     ENVIRONMENT VELLIX_TEST_LANG=zh_CN.UTF-8)

# The embedded and pop-up browsers and the recommendations view under Wine's real browser control,
# against the reference service; a second run without the browser's DLL sees every creation fail.
vx_add_test(browser_test SOURCES browser_test.cpp $<TARGET_OBJECTS:vxuires> $<TARGET_OBJECTS:vx_test_service_root>
            LIBS vxui_testsupport vxcore_servicesupport vxlangres GUI)
set_tests_properties(browser_test PROPERTIES RESOURCE_LOCK vellix_test_service)
add_test(NAME browser_nocontrol_test COMMAND browser_test --gtest_brief=1 --gtest_filter=*NoControl*)
set_tests_properties(browser_nocontrol_test PROPERTIES TIMEOUT 120 LABELS gui RESOURCE_LOCK vellix_test_service
                     ENVIRONMENT "VELLIX_TEST_NO_BROWSER=1;WINEDLLOVERRIDES=mscoree,mshtml=\\;ieframe,shdocvw=d\\;winemenubuilder.exe=d")
add_test(NAME browser_zh_test COMMAND browser_test --gtest_brief=1 --gtest_filter=*CurrentLanguage*)
set_tests_properties(browser_zh_test PROPERTIES TIMEOUT 120 LABELS gui RESOURCE_LOCK vellix_test_service
                     ENVIRONMENT VELLIX_TEST_LANG=zh_CN.UTF-8)

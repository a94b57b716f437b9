# The about, example and tip dialogs, run modally as the program runs them; the Chinese run takes
# their screenshots and checks their texts in the other built-in language.
vx_add_test(dialogs_test SOURCES dialogs_test.cpp $<TARGET_OBJECTS:vxuires> $<TARGET_OBJECTS:vx_test_service_root>
            LIBS vxui_testsupport vxlangres GUI)
add_test(NAME dialogs_zh_test COMMAND dialogs_test --gtest_brief=1 --gtest_filter=*Screenshot*:*Texts*)
set_tests_properties(dialogs_zh_test PROPERTIES TIMEOUT 120 LABELS gui ENVIRONMENT VELLIX_TEST_LANG=zh_CN.UTF-8)

# The view framework: a test view over the engine loads a page of the resources, with the program's
# style sheet and pictures; the Chinese run takes its screenshot with the other built-in texts.
vx_add_test(views_test SOURCES views_test.cpp views_test.rc $<TARGET_OBJECTS:vxuires>
            LIBS vxui_testsupport vxlangres GUI)
set_property(SOURCE views_test.rc APPEND PROPERTY OBJECT_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/ViewTest.html)
add_test(NAME views_zh_test COMMAND views_test --gtest_brief=1 --gtest_filter=*Screenshot*:*FilledFromTheTexts*)
set_tests_properties(views_zh_test PROPERTIES TIMEOUT 120 LABELS gui ENVIRONMENT VELLIX_TEST_LANG=zh_CN.UTF-8)

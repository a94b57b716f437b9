# The panel and the tab view in a stand-in main window; the tab view's tests read the site catalogue
# from the reference service.
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/screens)
add_library(vxui_testsupport STATIC UiTestSupport.cpp ${CMAKE_SOURCE_DIR}/tests/wtl/WtlTestSupport.cpp)
target_include_directories(vxui_testsupport PUBLIC ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/tests/wtl
                           ${CMAKE_SOURCE_DIR}/tests/core)
target_link_libraries(vxui_testsupport PUBLIC vxui vxcore_testsupport vx_linuxtool GTest::gtest)
target_compile_definitions(vxui_testsupport PUBLIC VX_SCREENS_DIR="${CMAKE_BINARY_DIR}/screens")

vx_add_test(panel_test SOURCES panel_test.cpp $<TARGET_OBJECTS:vxuires> LIBS vxui_testsupport vxlangres GUI)
add_test(NAME panel_zh_test COMMAND panel_test --gtest_brief=1 --gtest_filter=*Screenshot*:*OwnerDrawn*)
set_tests_properties(panel_zh_test PROPERTIES TIMEOUT 120 LABELS gui ENVIRONMENT VELLIX_TEST_LANG=zh_CN.UTF-8)

vx_add_test(tabview_test SOURCES tabview_test.cpp $<TARGET_OBJECTS:vxuires> $<TARGET_OBJECTS:vx_test_service_root>
            LIBS vxui_testsupport vxcore_servicesupport vxlangres GUI)
set_tests_properties(tabview_test PROPERTIES RESOURCE_LOCK vellix_test_service)
add_test(NAME tabview_zh_test COMMAND tabview_test --gtest_brief=1 --gtest_filter=*Screenshot*)
set_tests_properties(tabview_zh_test PROPERTIES TIMEOUT 120 LABELS gui RESOURCE_LOCK vellix_test_service
                     ENVIRONMENT VELLIX_TEST_LANG=zh_CN.UTF-8)

# The comic details view against the reference service and its demo site; the Chinese run takes
# its screenshots in the other built-in language.
vx_add_test(mangaview_test SOURCES mangaview_test.cpp $<TARGET_OBJECTS:vx_test_service_root>
            LIBS vxui vxuires vxlangres vxui_testsupport vxcore_servicesupport vxcore_dbsupport ws2_32 GUI)
target_include_directories(mangaview_test PRIVATE ${CMAKE_SOURCE_DIR}/tests/core)
set_tests_properties(mangaview_test PROPERTIES RESOURCE_LOCK vellix_test_service)
add_test(NAME mangaview_zh_test COMMAND mangaview_test --gtest_brief=1 --gtest_filter=*Screenshot*)
set_tests_properties(mangaview_zh_test PROPERTIES TIMEOUT 120 LABELS gui RESOURCE_LOCK vellix_test_service
                     ENVIRONMENT VELLIX_TEST_LANG=zh_CN.UTF-8)

# The update check for favourites over a real context and database.
vx_add_test(checkupdate_test SOURCES checkupdate_test.cpp $<TARGET_OBJECTS:vx_test_service_root>
            LIBS vxui vxuires vxlangres vxui_testsupport vxcore_servicesupport vxcore_dbsupport ws2_32 GUI)
target_include_directories(checkupdate_test PRIVATE ${CMAKE_SOURCE_DIR}/tests/core)
set_tests_properties(checkupdate_test PROPERTIES RESOURCE_LOCK vellix_test_service)
add_test(NAME checkupdate_zh_test COMMAND checkupdate_test --gtest_brief=1 --gtest_filter=*Screenshot*)
set_tests_properties(checkupdate_zh_test PROPERTIES TIMEOUT 120 LABELS gui RESOURCE_LOCK vellix_test_service
                     ENVIRONMENT VELLIX_TEST_LANG=zh_CN.UTF-8)

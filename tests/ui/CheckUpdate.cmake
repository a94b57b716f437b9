# The update check for favourites over a real context and database.
vx_add_test(checkupdate_test SOURCES checkupdate_test.cpp $<TARGET_OBJECTS:vx_test_service_root>
            LIBS vxui vxuires vxlangres vxui_testsupport vxcore_servicesupport vxcore_dbsupport ws2_32 GUI)
target_include_directories(checkupdate_test PRIVATE ${CMAKE_SOURCE_DIR}/tests/core)
set_tests_properties(checkupdate_test PROPERTIES RESOURCE_LOCK vellix_test_service)

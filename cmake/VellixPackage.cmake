# vellix-package: the zip that ships, Vellix-<version>-win32.zip (i686) or -win64.zip (x86_64) in
# the build folder, made by tools/package.sh. The version is the one the program sends to the
# service, read from its source so that there is one place to change it.
if(NOT WIN32 OR VELLIX_FUZZ OR NOT TARGET Vellix)
  return()
endif()
set(vx_version_source ${CMAKE_SOURCE_DIR}/app/core/ServiceApi.cpp)
file(STRINGS ${vx_version_source} vx_version_line REGEX "kProgramVersion\\[\\] = \"[0-9.]+\"")
string(REGEX MATCH "[0-9]+(\\.[0-9]+)+" VELLIX_VERSION "${vx_version_line}")
if(NOT VELLIX_VERSION)
  message(FATAL_ERROR "no kProgramVersion in ${vx_version_source}")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${vx_version_source})

if(VELLIX_ARCH STREQUAL "i686")
  set(VELLIX_PACKAGE ${CMAKE_BINARY_DIR}/Vellix-${VELLIX_VERSION}-win32.zip)
else()
  set(VELLIX_PACKAGE ${CMAKE_BINARY_DIR}/Vellix-${VELLIX_VERSION}-win64.zip)
endif()
# Part of the default build, so that the test of the zip finds it current.
add_custom_command(OUTPUT ${VELLIX_PACKAGE}
    COMMAND ${CMAKE_SOURCE_DIR}/tools/package.sh zip ${CMAKE_BINARY_DIR} ${VELLIX_PACKAGE}
    DEPENDS Vellix Quillet Dornet Tessara HTMLayout Faultkeep vxlangres
            ${CMAKE_SOURCE_DIR}/tools/package.sh ${CMAKE_SOURCE_DIR}/app/resources/lang/en.ini
            ${CMAKE_SOURCE_DIR}/app/resources/lang/zh-cn.ini ${VELLIX_RUNTIME_DLLS}
            ${VELLIX_DEP_PREFIX}/bin/lua52.dll
    COMMENT "Packing ${VELLIX_PACKAGE}"
    VERBATIM)
add_custom_target(vellix-package ALL DEPENDS ${VELLIX_PACKAGE})

# Compiler settings, third-party imports and the test helper shared by every layer.

set(VELLIX_DEPS "$ENV{VELLIX_DEPS}" CACHE PATH "Dependency cache made by tools/build-deps.sh")
if(NOT VELLIX_DEPS)
  set(VELLIX_DEPS "$ENV{HOME}/.cache/vellix-deps")
endif()

if(WIN32)
  # i686 ships; x86_64 is built beside it so the tests run on hosts that refuse 32-bit code.
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(VELLIX_ARCH x86_64)
    set(VELLIX_LIBGCC_DLL libgcc_s_seh-1.dll)
  else()
    set(VELLIX_ARCH i686)
    set(VELLIX_LIBGCC_DLL libgcc_s_dw2-1.dll)
  endif()
  set(VELLIX_TRIPLE ${VELLIX_ARCH}-w64-mingw32)
  set(VELLIX_DEP_PREFIX ${VELLIX_DEPS}/${VELLIX_ARCH})
  find_program(VX_DLLTOOL NAMES ${VELLIX_TRIPLE}-dlltool REQUIRED)
else()
  set(VELLIX_DEP_PREFIX ${VELLIX_DEPS}/host)
endif()

add_compile_options(-Wall -Wextra -Wno-unused-parameter)

if(WIN32)
  add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601
                          WINVER=0x0601 LUA_BUILD_AS_DLL)
  # C/C++ runtime: every module links libgcc, libstdc++ and winpthread as the shared DLLs shipped
  # beside the program. An exception thrown in one DLL and caught in another (a failed allocation in
  # the request factory) needs one unwinder for the whole process, and std::string objects are
  # passed by reference between modules, so they must agree on one allocator and one libstdc++.
  set(VELLIX_RUNTIME_DLLS
      /usr/lib/gcc/${VELLIX_TRIPLE}/12-posix/${VELLIX_LIBGCC_DLL}
      /usr/lib/gcc/${VELLIX_TRIPLE}/12-posix/libstdc++-6.dll
      /usr/${VELLIX_TRIPLE}/lib/libwinpthread-1.dll)
  file(MAKE_DIRECTORY ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
  foreach(dll ${VELLIX_RUNTIME_DLLS} ${VELLIX_DEP_PREFIX}/bin/lua52.dll)
    if(EXISTS ${dll})
      file(COPY ${dll} DESTINATION ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
    endif()
  endforeach()
  # Every test process runs under Wine in a prefix and on a display of its own: tests that share a
  # Wine server share its foreground window, and tests that share a display share the X focus.
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_SOURCE_DIR}/tools/wine-run.sh --private ${CMAKE_BINARY_DIR}/wineprefix)
  # By full path: -lz would pick the import library of a zlib1.dll.
  set(VELLIX_ZLIB ${VELLIX_DEP_PREFIX}/lib/libz.a)
else()
  set(VELLIX_SANITIZE -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  if(NOT VELLIX_FUZZ)
    add_compile_options(${VELLIX_SANITIZE})
    add_link_options(${VELLIX_SANITIZE})
  endif()
  add_compile_options(-g)
endif()

# Third-party libraries built by tools/build-deps.sh. The Lua runtime is one DLL on Windows, shared by
# every module that uses it: two copies in one process break Lua's static sentinel objects.
function(vx_import_dep name lib)
  if(NOT TARGET dep::${name})
    add_library(dep::${name} UNKNOWN IMPORTED GLOBAL)
    set_target_properties(dep::${name} PROPERTIES
        IMPORTED_LOCATION ${VELLIX_DEP_PREFIX}/lib/${lib}
        INTERFACE_INCLUDE_DIRECTORIES ${VELLIX_DEP_PREFIX}/include)
  endif()
endfunction()

if(EXISTS ${VELLIX_DEP_PREFIX}/lib)
  if(WIN32)
    vx_import_dep(lua liblua52.dll.a)
    vx_import_dep(sqlite libsqlite3.a)
    vx_import_dep(duktape libduktape.a)
    vx_import_dep(minizip libminizip.a)
    set_property(TARGET dep::minizip PROPERTY INTERFACE_LINK_LIBRARIES ${VELLIX_ZLIB})
  else()
    vx_import_dep(lua liblua52.a)
    set_property(TARGET dep::lua PROPERTY INTERFACE_LINK_LIBRARIES m dl)
  endif()
endif()

# vx_stdcall_dll(target def): a DLL whose __stdcall exports carry their plain names, from one .def
# list written with the x86 decoration (Name@8). The x86 linker drops the decoration (--kill-at) and
# dlltool makes an import library that resolves both forms; x86-64 has no decoration, so there the
# list is used with it stripped. Callers link the INTERFACE target named lower-case ${target}.
function(vx_stdcall_dll target def)
  set(implib ${CMAKE_ARCHIVE_OUTPUT_DIRECTORY}/lib${target}.a)
  if(VELLIX_ARCH STREQUAL "i686")
    set(used_def ${def})
    target_link_options(${target} PRIVATE -Wl,--kill-at)
    set(kill -k)
  else()
    file(READ ${def} text)
    string(REGEX REPLACE "@[0-9]+" "" text "${text}")
    get_filename_component(name ${def} NAME)
    set(used_def ${CMAKE_CURRENT_BINARY_DIR}/${name})
    file(WRITE ${used_def} "${text}")
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${def})
    set(kill "")
  endif()
  target_sources(${target} PRIVATE ${used_def})
  add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${VX_DLLTOOL} -d ${used_def} -D ${target}.dll -l ${implib} ${kill}
      BYPRODUCTS ${implib}
      COMMENT "Import library for ${target}.dll")
  string(TOLOWER ${target} iface)
  add_library(${iface} INTERFACE)
  add_dependencies(${iface} ${target})
  target_link_libraries(${iface} INTERFACE ${implib})
endfunction()

# vx_add_test(name SOURCES files... LIBS targets... [LABELS labels...] [GUI])
# One ctest entry per executable; under Wine ctest runs it through the emulator wrapper.
# GUI marks tests that open windows: at a failure they take a picture of their display.
function(vx_add_test name)
  cmake_parse_arguments(T "GUI" "" "SOURCES;LIBS;LABELS" ${ARGN})
  if(VELLIX_FUZZ)
    # The fuzz build runs only the *_fuzz targets; the test target exists (callers may set its
    # properties) but is never built.
    add_executable(${name} EXCLUDE_FROM_ALL ${T_SOURCES})
    target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main)
    return()
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main)
  add_test(NAME ${name} COMMAND ${name} --gtest_brief=1)
  set_tests_properties(${name} PROPERTIES TIMEOUT 300 LABELS "${T_LABELS}")
  if(T_GUI)
    set_property(TEST ${name} APPEND PROPERTY LABELS gui)
    if(WIN32)
      target_sources(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests/support/FailureShot.cpp)
      target_link_libraries(${name} PRIVATE vx_linuxtool)
      target_compile_definitions(${name} PRIVATE VX_FAILURE_SHOTS="${CMAKE_BINARY_DIR}/screens/failed")
    endif()
  endif()
endfunction()

include_guard(GLOBAL)
include(GoogleTest)

# GoogleTest is built from the distribution's sources with each toolchain.
macro(qx_setup_googletest)
  set(QX_GTEST_SOURCE "/usr/src/googletest" CACHE PATH "GoogleTest sources")
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(${QX_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endmacro()

# qx_add_test(<name> SOURCES ... [LIBS ...] [WINDOWS_ONLY | NATIVE_ONLY]
#             [TIMEOUT seconds] [SUITE name] [RESOURCE_LOCKS lock...] [PROPERTIES ...])
# Builds one GoogleTest program and registers each of its tests as
# "<suite>.<Test>.<Case>", labelled with the suite name. Windows programs run through
# the cross-compiling emulator (Wine); discovery happens when ctest runs, not at build.
# SUITE puts the tests into another suite of the same build tree (the ui suite of the
# windows tree). RESOURCE_LOCKS: several locks (a list given in PROPERTIES reaches the
# discovered tests flattened, so that only its first name would hold).
function(qx_add_test name)
  cmake_parse_arguments(T "WINDOWS_ONLY;NATIVE_ONLY" "TIMEOUT;SUITE" "SOURCES;LIBS;PROPERTIES;RESOURCE_LOCKS" ${ARGN})
  if(T_WINDOWS_ONLY AND NOT WIN32)
    return()
  endif()
  if(T_NATIVE_ONLY AND WIN32)
    return()
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  if(NOT T_SUITE)
    set(T_SUITE ${QX_SUITE})
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} qxtestmain)
  gtest_discover_tests(${name}
    TEST_PREFIX "${T_SUITE}."
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 300
    PROPERTIES LABELS "${T_SUITE}" TIMEOUT ${T_TIMEOUT} ${T_PROPERTIES})
  if(T_RESOURCE_LOCKS)
    # Runs after the discovery's own include file, on the tests it listed.
    set(locks ${CMAKE_CURRENT_BINARY_DIR}/${name}_locks.cmake)
    file(WRITE ${locks} "if(${name}_TESTS)\n  set_tests_properties(\${${name}_TESTS} PROPERTIES RESOURCE_LOCK \"${T_RESOURCE_LOCKS}\")\nendif()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${locks})
  endif()
endfunction()

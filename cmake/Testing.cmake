# GoogleTest from Debian's source package, built with the same compiler as the code under test.
if(NOT QUIL_BUILD_TESTS)
  return()
endif()

enable_testing()
include(GoogleTest)

set(QUIL_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
if(WIN32)
  # Every test executable runs through Wine, in the prefix of its architecture that lives beside
  # the build folders (scripts/common.sh creates it).
  get_filename_component(quil_build_root "${CMAKE_BINARY_DIR}" DIRECTORY)
  set(QUIL_WINE_PREFIXES "${quil_build_root}" CACHE PATH "Folder that holds the Wine prefixes")
  set(CMAKE_CROSSCOMPILING_EMULATOR
    ${CMAKE_SOURCE_DIR}/cmake/wine-emulator.sh ${CMAKE_SYSTEM_PROCESSOR} ${QUIL_WINE_PREFIXES})
  # The win32 thread model has no std::mutex: gtest gets a Win32 Notification and no pthreads.
  set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
  include_directories(BEFORE ${CMAKE_SOURCE_DIR}/tests/gtest-custom)
endif()
# The tests' time limits, multiplied on a slow machine by the environment variable
# QUIL_TIME_FACTOR at configure time (a whole number from 1 to 100; the emulated x86 run sets it),
# as the tests' own bounded waits are when they run (tests/support/WaitBound.h).
set(QUIL_TIME_FACTOR 1)
if("$ENV{QUIL_TIME_FACTOR}" MATCHES "^([1-9][0-9]?|100)$")
  set(QUIL_TIME_FACTOR "$ENV{QUIL_TIME_FACTOR}")
endif()
# quil_time_limit(VAR SECONDS): a time limit of SECONDS on an ordinary machine, for this one.
function(quil_time_limit var seconds)
  math(EXPR limit "${seconds} * ${QUIL_TIME_FACTOR}")
  set(${var} ${limit} PARENT_SCOPE)
endfunction()

add_subdirectory(${QUIL_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
if(WIN32)
  target_link_options(gtest PUBLIC -static)
endif()

# quil_add_gtest(NAME SOURCES src... [LIBS lib...] [LOCKS resource...] [TIMEOUT seconds]
#                [PROPERTIES prop value...])
# Builds a test executable and registers each of its test cases with CTest, each limited to
# TIMEOUT seconds (60 by default, stretched by quil_time_limit). Cases are listed when
# CTest runs, so a cross build needs no Wine at build time; each case runs in a process of its own.
# A case passes only when GoogleTest reports it passed: under Wine a crash on a thread other than
# the main one can end the process with exit code 0.
# LOCKS names the resources a case holds while it runs (CTest's RESOURCE_LOCK). They are set by a
# file of their own that CTest reads after the discovered cases: a list among PROPERTIES would
# reach CTest with only its first name.
function(quil_add_gtest name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS;LOCKS;PROPERTIES" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 60)
  endif()
  quil_time_limit(timeout ${ARG_TIMEOUT})
  quil_time_limit(discovery_timeout 60)
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} gmock gtest_main)
  if(WIN32)
    target_link_options(${name} PRIVATE -static)
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT ${discovery_timeout}
    WORKING_DIRECTORY $<TARGET_FILE_DIR:${name}>
    TEST_LIST ${name}_CASES
    PROPERTIES TIMEOUT ${timeout} PASS_REGULAR_EXPRESSION "PASSED  . 1 test" ${ARG_PROPERTIES})
  if(ARG_LOCKS)
    set(locks_file "${CMAKE_CURRENT_BINARY_DIR}/${name}_locks.cmake")
    file(WRITE "${locks_file}"
      "if(${name}_CASES)\n  set_tests_properties(\${${name}_CASES} PROPERTIES RESOURCE_LOCK \"${ARG_LOCKS}\")\nendif()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${locks_file}")
  endif()
endfunction()

# zv_add_test(NAME SOURCES src... LIBS lib... [TIMEOUT seconds] [LABELS label...])
# Cases named Slow* run the shipped time limits unshortened: they get the
# label slow (ctest -LE slow leaves them out) and a limit of their own.
# One GoogleTest program per call; every test case gets a time limit so that
# the suite always ends by itself.
function(zv_add_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;LABELS;DEFINES" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 60)
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE
    ZV_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    ZV_BINARY_DIR="${PROJECT_BINARY_DIR}"
    ${T_DEFINES})
  if(WIN32)
    # One case per program: under Wine every start of a program costs a
    # second or so, and listing the cases would need Wine at build time.
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS "windows;${T_LABELS}")
    return()
  endif()
  gtest_discover_tests(${name} TEST_FILTER "-*.Slow*"
    DISCOVERY_TIMEOUT 30
    PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS "${T_LABELS}")
  gtest_discover_tests(${name} TEST_FILTER "*.Slow*"
    DISCOVERY_TIMEOUT 30
    PROPERTIES TIMEOUT 120 LABELS "slow;${T_LABELS}")
endfunction()

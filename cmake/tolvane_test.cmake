# GoogleTest, built by the project for whichever preset is configured.
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
# No test uses GoogleMock.
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
include(GoogleTest)

# Under the ARM64 platform's emulation every Wine process costs about half a
# second before a test case runs, more than most cases take: there each test
# executable runs all its cases in one process, a batch, and ctest sees one
# test per executable.
if(CMAKE_SYSTEM_PROCESSOR STREQUAL ARM64)
  set(tolvane_batches_default ON)
else()
  set(tolvane_batches_default OFF)
endif()
option(TOLVANE_TEST_BATCHES "Run each test executable's cases in one process" ${tolvane_batches_default})
# Where the batches write GoogleTest's XML report, a file named after the
# ctest test; scripts/test-arm64 puts their cases into ctest's JUnit report in
# place of the batch, by the list of batches in test-batches.list.
set(TOLVANE_BATCH_REPORTS ${CMAKE_BINARY_DIR}/test-batches)
set(TOLVANE_BATCH_LIST ${CMAKE_BINARY_DIR}/test-batches.list)
file(WRITE ${TOLVANE_BATCH_LIST} "")

# tolvane_add_test(NAME LABEL label [BATCH_TIMEOUT seconds] SOURCES ... LIBS ...)
# One GoogleTest executable whose tests carry the label of their area: a
# ctest test per case, listed when ctest runs (so the build itself needs no
# Wine), or with TOLVANE_TEST_BATCHES one ctest test NAME for all of them,
# stopped after BATCH_TIMEOUT seconds (default 300).
function(tolvane_add_test name)
  cmake_parse_arguments(T "" "LABEL;BATCH_TIMEOUT" "SOURCES;LIBS" ${ARGN})
  if(NOT T_BATCH_TIMEOUT)
    set(T_BATCH_TIMEOUT 300)
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main)
  tolvane_warnings(${name})
  if(TOLVANE_TEST_BATCHES)
    # Relative to the test's working directory: the program sees Windows
    # paths, in which the build folder has another name.
    file(RELATIVE_PATH report ${CMAKE_CURRENT_BINARY_DIR} ${TOLVANE_BATCH_REPORTS}/${name}.xml)
    add_test(NAME ${name} COMMAND ${name} --gtest_output=xml:${report})
    # All the cases of an executable under emulation take up to 60 s alone,
    # and the same batch took up to three times as long in another run: the
    # preset's 120 s, meant for one case, would leave too little margin.
    set_tests_properties(${name} PROPERTIES LABELS ${T_LABEL} TIMEOUT ${T_BATCH_TIMEOUT})
    file(APPEND ${TOLVANE_BATCH_LIST} "${name}\n")
  else()
    gtest_discover_tests(${name}
      DISCOVERY_MODE PRE_TEST
      DISCOVERY_TIMEOUT 60
      PROPERTIES LABELS ${T_LABEL})
  endif()
endfunction()

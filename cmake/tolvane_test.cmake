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

# tolvane_add_test(NAME LABEL label SOURCES ... LIBS ...)
# One GoogleTest executable whose tests carry the label of their area: a
# ctest test per case, listed when ctest runs (so the build itself needs no
# Wine), or with TOLVANE_TEST_BATCHES one ctest test NAME for all of them.
function(tolvane_add_test name)
  cmake_parse_arguments(T "" "LABEL" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main)
  tolvane_warnings(${name})
  if(TOLVANE_TEST_BATCHES)
    # Relative to the test's working directory: the program sees Windows
    # paths, in which the build folder has another name.
    file(RELATIVE_PATH report ${CMAKE_CURRENT_BINARY_DIR} ${TOLVANE_BATCH_REPORTS}/${name}.xml)
    add_test(NAME ${name} COMMAND ${name} --gtest_output=xml:${report})
    # A batch takes up to 30 s alone under emulation (registration_tests),
    # and about three times as long on a busy machine: the preset's 120 s,
    # meant for one case, would leave too little margin.
    set_tests_properties(${name} PROPERTIES LABELS ${T_LABEL} TIMEOUT 300)
    file(APPEND ${TOLVANE_BATCH_LIST} "${name}\n")
  else()
    gtest_discover_tests(${name}
      DISCOVERY_MODE PRE_TEST
      DISCOVERY_TIMEOUT 60
      PROPERTIES LABELS ${T_LABEL})
  endif()
endfunction()

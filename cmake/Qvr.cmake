# Our own code is held to warnings-as-errors; system headers are not.
set(QVR_WARNINGS -Wall -Wextra -Werror)

# qvr_library(NAME DIR [DEPS ...]): one static library from every .cpp below DIR.
function(qvr_library name dir)
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS "${dir}/*.cpp")
  if(NOT srcs)
    # A subsystem whose sources have not arrived yet still links as a name.
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE "${CMAKE_SOURCE_DIR}/src")
    target_link_libraries(${name} INTERFACE ${ARGN})
    return()
  endif()
  add_library(${name} STATIC ${srcs})
  target_include_directories(${name} PUBLIC "${CMAKE_SOURCE_DIR}/src")
  target_compile_options(${name} PRIVATE ${QVR_WARNINGS})
  target_link_libraries(${name} PUBLIC ${ARGN})
endfunction()

# qvr_test_group(GROUP DIR [LIBS ...]): one GoogleTest executable from every .cpp below DIR,
# registered as GROUP.<Suite>.<Test> so that `ctest -R GROUP` runs one group.
function(qvr_test_group group dir)
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS "${dir}/*.cpp")
  if(NOT srcs)
    return()
  endif()
  add_executable(${group}_tests ${srcs})
  target_compile_options(${group}_tests PRIVATE ${QVR_WARNINGS})
  target_include_directories(${group}_tests PRIVATE "${CMAKE_SOURCE_DIR}/tests")
  target_link_libraries(${group}_tests PRIVATE ${ARGN} qvr_testsupport GTest::gtest GTest::gmock GTest::gtest_main)
  gtest_discover_tests(${group}_tests TEST_PREFIX "${group}." DISCOVERY_TIMEOUT 120
    PROPERTIES LABELS ${group} TIMEOUT 600)
endfunction()

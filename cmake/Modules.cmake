# tessaly_module(NAME deps...): a static library of src/NAME/*.cpp, or an
# interface library while the folder has no sources yet.
function(tessaly_module name)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/${name}/*.cpp)
  if(sources)
    add_library(tessaly_${name} STATIC ${sources})
    target_include_directories(tessaly_${name} PUBLIC ${CMAKE_SOURCE_DIR}/src)
    target_link_libraries(tessaly_${name} PUBLIC ${ARGN})
  else()
    add_library(tessaly_${name} INTERFACE)
    target_include_directories(tessaly_${name} INTERFACE ${CMAKE_SOURCE_DIR}/src)
    target_link_libraries(tessaly_${name} INTERFACE ${ARGN})
  endif()
endfunction()

# tessaly_tests(NAME deps...): one test binary of tests/NAME/*.cpp, run by CTest.
function(tessaly_tests name)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/${name}/*.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(tests_${name} ${sources})
  target_link_libraries(tests_${name} PRIVATE tessaly_testsupport tessaly_testmain ${ARGN})
  gtest_discover_tests(tests_${name}
    DISCOVERY_TIMEOUT 60
    # One variable only: a list here would be split into separate properties. The test
    # main defaults QT_QPA_PLATFORM to offscreen itself.
    PROPERTIES ENVIRONMENT "TESSALY_SCREENSHOTS=${CMAKE_BINARY_DIR}/screenshots"
    TIMEOUT 120)
endfunction()

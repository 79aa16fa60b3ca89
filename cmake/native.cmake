# Native Linux build: the core and the simulator, tested in virtual time under sanitizers.
enable_testing()
find_package(GTest REQUIRED)
find_package(Threads REQUIRED)
include(GoogleTest)

file(GLOB TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/*.cpp)
file(GLOB THREADED_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/threaded/*.cpp)
file(GLOB TEST_SUPPORT_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/support/*.cpp)
# The window's pure rules (log cut, banner, countdown) are portable and tested natively.
file(GLOB UI_RULE_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/app/ui_rules.cpp)
list(APPEND TEST_SUPPORT_SOURCES ${UI_RULE_SOURCES})

# Each suite compiles the core and the simulator with its own sanitizer flags.
function(kesta_test_suite name sanitizers)
  add_executable(${name} ${ARGN} ${TEST_SUPPORT_SOURCES} ${CORE_SOURCES} ${SIM_SOURCES})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
  # Tests that hold code against a document of the tree read it from here.
  target_compile_definitions(${name} PRIVATE KESTA_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  target_compile_options(${name} PRIVATE -fsanitize=${sanitizers} -fno-omit-frame-pointer -g)
  # A test that meets undefined behaviour fails there, instead of printing a report and passing.
  if(sanitizers MATCHES "undefined")
    target_compile_options(${name} PRIVATE -fno-sanitize-recover=undefined)
  endif()
  target_link_options(${name} PRIVATE -fsanitize=${sanitizers})
  target_link_libraries(${name} PRIVATE GTest::gtest GTest::gtest_main Threads::Threads)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60)
endfunction()

kesta_test_suite(kesta_tests "address,undefined" ${TEST_SOURCES})
if(THREADED_TEST_SOURCES)
  kesta_test_suite(kesta_tests_tsan "thread" ${THREADED_TEST_SOURCES})
endif()

# The seeded fault campaign: random hostile worlds against the whole core, in virtual time. It
# stops at the first undefined behaviour too, so that a world that breaks is never passed over.
file(GLOB CAMPAIGN_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/campaign/*.cpp)
add_executable(kesta_campaign ${CAMPAIGN_SOURCES} ${TEST_SUPPORT_SOURCES} ${CORE_SOURCES}
               ${SIM_SOURCES})
target_include_directories(kesta_campaign PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_options(kesta_campaign PRIVATE -O1 -fsanitize=address,undefined -fno-sanitize-recover=all
                       -fno-omit-frame-pointer -g)
target_link_options(kesta_campaign PRIVATE -fsanitize=address,undefined)
add_test(NAME Campaign COMMAND kesta_campaign)

# A short demonstration of the link against the simulator.
if(EXISTS ${CMAKE_SOURCE_DIR}/tools/demo/link_demo.cpp)
  add_executable(link_demo tools/demo/link_demo.cpp ${CORE_SOURCES} ${SIM_SOURCES})
  target_include_directories(link_demo PRIVATE ${CMAKE_SOURCE_DIR})
endif()

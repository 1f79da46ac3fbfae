# One place decides the warning set, so every target is held to the same bar.
function(kerbilo_set_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
endfunction()

# Libraries follow the source layout: src/<folder> becomes kerbilo_<folder>.
function(kerbilo_library name)
    cmake_parse_arguments(ARG "" "" "SOURCES;PUBLIC_LINKS;PRIVATE_LINKS" ${ARGN})
    add_library(${name} STATIC ${ARG_SOURCES})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} PUBLIC ${ARG_PUBLIC_LINKS} PRIVATE ${ARG_PRIVATE_LINKS})
    kerbilo_set_warnings(${name})
endfunction()

# A test executable links only what it tests; its cases are registered one by one, named
# <Module>.<Suite>.<Case> so that ctest's output maps to the source folders.
function(kerbilo_test name)
    cmake_parse_arguments(ARG "" "MODULE" "SOURCES;LINKS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LINKS} GTest::gtest GTest::gtest_main GTest::gmock)
    kerbilo_set_warnings(${name})
    gtest_discover_tests(${name} TEST_PREFIX "${ARG_MODULE}." DISCOVERY_TIMEOUT 60
        PROPERTIES ENVIRONMENT "KERBILO_TEST_DATA=${PROJECT_SOURCE_DIR}/tests/data")
endfunction()

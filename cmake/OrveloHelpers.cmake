# orvelo_library(NAME SOURCES... [DEPS ...]): a static library of the product's logic.
function(orvelo_library name)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
    add_library(${name} STATIC ${ARG_SOURCES})
    target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR}/src)
    target_link_libraries(${name} PUBLIC ${ARG_DEPS} PRIVATE orvelo_warnings)
endfunction()

# orvelo_test(NAME SOURCES... [DEPS ...] [SEAM target]): a GoogleTest binary, linked with the
# fake OS seam unless SEAM names the real one. Natively each test case becomes a CTest test;
# under Wine the whole binary is one CTest test, since discovering the cases would need Wine at
# build time.
function(orvelo_test name)
    cmake_parse_arguments(ARG "" "SEAM" "SOURCES;DEPS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    if(ARG_SEAM)
        set_target_properties(${name} PROPERTIES ORVELO_SEAM ${ARG_SEAM})
    endif()
    target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest_main orvelo_warnings)
    target_compile_definitions(${name} PRIVATE ORVELO_TEST_DATA_DIR="${ORVELO_TEST_DATA_DIR}")
    if(CMAKE_CROSSCOMPILING)
        add_test(NAME ${name} COMMAND ${name})
    else()
        gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60)
    endif()
endfunction()

# SPDX-License-Identifier: GPL-3.0-or-later
# Common settings for every target of the project.

# omvara_target_defaults(<target>): warnings and include root for our own code.
function(omvara_target_defaults target)
    target_compile_options(${target} PRIVATE
        $<$<CXX_COMPILER_ID:GNU,Clang>:-Wall -Wextra -Wpedantic -Wno-unused-parameter>)
    if(OMVARA_WERROR)
        target_compile_options(${target} PRIVATE $<$<CXX_COMPILER_ID:GNU,Clang>:-Werror>)
    endif()
    target_compile_definitions(${target} PRIVATE
        QT_NO_KEYWORDS)
endfunction()

# omvara_add_test(<name> SOURCES ... LIBS ... [LABELS ...]): one GoogleTest executable registered with ctest.
function(omvara_add_test name)
    cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;LABELS;ENVIRONMENT" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    omvara_target_defaults(${name})
    target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
    # Helpers several test folders share (tests/support).
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/support)
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 300)
    endif()
    set(props TIMEOUT ${T_TIMEOUT})
    if(T_LABELS)
        list(APPEND props LABELS "${T_LABELS}")
    endif()
    if(T_ENVIRONMENT)
        # Keep several VAR=value pairs one property value.
        string(REPLACE ";" "\\;" env "${T_ENVIRONMENT}")
        list(APPEND props ENVIRONMENT "${env}")
    endif()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES ${props})
endfunction()

option(OMVARA_WERROR "Treat warnings as errors" OFF)

# Compiler flags and helper functions shared by every folder.

add_compile_options(-Wall -Wextra -Wshadow)
# Square roots and exponentials never set errno here: nothing reads it after them, and without
# that duty the compiler emits the instruction alone instead of a guarded library call. Products
# are never fused into one rounding with the sums they feed, on any target, so that every build
# computes the same numbers as the files expect.
add_compile_options(-fno-math-errno -ffp-contract=off)
if(MESHWORK_WERROR)
    add_compile_options(-Werror)
endif()
if(MESHWORK_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer
                        -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
endif()
if(MESHWORK_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
        message(FATAL_ERROR "MESHWORK_FUZZ needs clang: configure with -DCMAKE_CXX_COMPILER=clang++")
    endif()
    # Instrument everything for coverage; only fuzz executables link the libFuzzer main.
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined)
    add_link_options(-fsanitize=address,undefined)
endif()

# meshwork_add_tests(<name> SOURCES ... LIBS ... [LABEL unit])
# One GoogleTest binary per folder, discovered by CTest.
function(meshwork_add_tests name)
    cmake_parse_arguments(ARG "" "LABEL" "SOURCES;LIBS" ${ARGN})
    if(NOT MESHWORK_TESTS)
        return()
    endif()
    if(NOT ARG_LABEL)
        set(ARG_LABEL unit)
    endif()
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main)
    gtest_discover_tests(${name} PROPERTIES LABELS ${ARG_LABEL}
                         WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
                         DISCOVERY_TIMEOUT 60)
endfunction()

# meshwork_add_fuzzer(<name> SOURCE <file> LIBS ... CORPUS <dir>)
# With MESHWORK_FUZZ the source becomes a libFuzzer executable; otherwise it is linked to a
# replay main that runs every file of the corpus once, as a CTest test labelled fuzz-smoke.
function(meshwork_add_fuzzer name)
    cmake_parse_arguments(ARG "" "SOURCE;CORPUS" "LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCE})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS})
    if(MESHWORK_FUZZ)
        target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    else()
        target_link_libraries(${name} PRIVATE fuzz_replay_main)
        if(MESHWORK_TESTS)
            add_test(NAME ${name}_replay COMMAND ${name} ${ARG_CORPUS})
            set_tests_properties(${name}_replay PROPERTIES LABELS fuzz-smoke)
        endif()
    endif()
endfunction()

# meshwork_add_bench(<name> SOURCES ... LIBS ...)
# Benchmarks are plain mains printing one line per input; CTest runs them with --quick.
function(meshwork_add_bench name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    if(NOT MESHWORK_BENCH)
        return()
    endif()
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS})
    if(MESHWORK_TESTS)
        add_test(NAME ${name}_quick COMMAND ${name} --quick)
        set_tests_properties(${name}_quick PROPERTIES LABELS bench-smoke)
    endif()
endfunction()

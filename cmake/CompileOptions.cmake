# Options for the project's own targets (not for third-party code built alongside).
function(brisk_target_options target)
    if(MSVC)
        target_compile_options(${target} PRIVATE /W4 /WX /utf-8)
        target_compile_definitions(${target} PRIVATE NOMINMAX WIN32_LEAN_AND_MEAN UNICODE _UNICODE)
    else()
        target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
    endif()
    if(WIN32)
        target_compile_definitions(${target} PRIVATE NOMINMAX WIN32_LEAN_AND_MEAN UNICODE _UNICODE
                                                     _WIN32_WINNT=0x0A00)
        if(MINGW)
            target_compile_definitions(${target} PRIVATE __USE_MINGW_ANSI_STDIO=1)
        endif()
    endif()
    # gcc 12 at -O3 takes an inlined string append for a memcpy that may
    # overlap (-Wrestrict; gcc bug 105329, fixed in 13) wherever a literal and a
    # std::string are added: a false alarm on standard library code, which
    # -Werror made a build failure in one file after another.
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
        target_compile_options(${target} PRIVATE -Wno-restrict)
    endif()
endfunction()

# Sanitizer builds (native gcc/clang only): BRISK_SANITIZE=address gives
# AddressSanitizer plus UndefinedBehaviorSanitizer, where any UB aborts (with
# out-of-range float-to-integer conversions, which gcc leaves out of its
# "undefined" group and which device numbers could cause);
# BRISK_SANITIZE=thread gives ThreadSanitizer. Everything in the tree is
# instrumented, brisk-sim included, so the end-to-end tests run it sanitized.
set(BRISK_SANITIZE "" CACHE STRING "Sanitizer build: address (ASan+UBSan), thread (TSan) or empty")
set_property(CACHE BRISK_SANITIZE PROPERTY STRINGS "" address thread)
# Test environment for a sanitizer build: the first report fails the test.
set(BRISK_SANITIZER_TEST_ENV "")
if(BRISK_SANITIZE)
    if(CMAKE_CROSSCOMPILING OR MSVC)
        message(FATAL_ERROR "BRISK_SANITIZE is for native gcc/clang builds only")
    endif()
    if(BRISK_SANITIZE STREQUAL "address")
        set(brisk_sanitize_flags -fsanitize=address,undefined,float-cast-overflow
            -fno-sanitize-recover=undefined,float-cast-overflow)
        # Bounds checks in the standard containers catch what ASan cannot
        # see: an index past size() but within the allocation.
        add_compile_definitions(_GLIBCXX_ASSERTIONS)
        set(BRISK_SANITIZER_TEST_ENV
            "ASAN_OPTIONS=halt_on_error=1:exitcode=86:detect_leaks=1:detect_stack_use_after_return=1:strict_string_checks=1:check_initialization_order=1"
            "UBSAN_OPTIONS=halt_on_error=1:exitcode=87:print_stacktrace=1")
    elseif(BRISK_SANITIZE STREQUAL "thread")
        set(brisk_sanitize_flags -fsanitize=thread)
        set(BRISK_SANITIZER_TEST_ENV
            "TSAN_OPTIONS=halt_on_error=1:exitcode=88:second_deadlock_stack=1")
    else()
        message(FATAL_ERROR "BRISK_SANITIZE must be address or thread, not '${BRISK_SANITIZE}'")
    endif()
    add_compile_options(${brisk_sanitize_flags} -fno-omit-frame-pointer)
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
        # gcc's flow analysis sees the instrumentation and then reports
        # "may be used uninitialized" inside libstdc++ (std::regex,
        # std::function); the plain builds keep the warning as an error.
        add_compile_options(-Wno-maybe-uninitialized)
    endif()
    add_link_options(${brisk_sanitize_flags})
endif()

# What one test of this tree takes of the machine, as CTest's PROCESSORS:
# scripts/test runs every tree in one CTest run with more slots than cores.
# Most plain native tests wait on a virtual headset's clock and use a tenth
# of a core; an instrumented brisk-sim, or a program under Wine, takes about
# one.
if(BRISK_SANITIZE OR CMAKE_CROSSCOMPILING)
    set(BRISK_TEST_PROCESSORS 2)
else()
    set(BRISK_TEST_PROCESSORS 1)
endif()

# Gives the tests gtest_discover_tests() finds in TARGET the sanitizer
# environment, which then also reaches any brisk-sim they start, and their
# weight. Discovery cannot carry a list-valued ENVIRONMENT itself, so a
# script that CTest reads right after the discovered tests sets it on their
# list.
function(brisk_sanitizer_test_env target)
    if(NOT BRISK_SANITIZER_TEST_ENV)
        return()
    endif()
    set(script ${CMAKE_CURRENT_BINARY_DIR}/${target}_sanitizer_env.cmake)
    file(WRITE ${script}
         "if(${target}_TESTS)\n"
         "  set_tests_properties(\${${target}_TESTS} PROPERTIES ENVIRONMENT [==[${BRISK_SANITIZER_TEST_ENV}]==]\n"
         "                       PROCESSORS ${BRISK_TEST_PROCESSORS})\n"
         "endif()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${script})
endfunction()

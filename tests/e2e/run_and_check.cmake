# Runs one program (through EMULATOR when given) and checks its exit code and
# lines. Used for the Windows programs under Wine, where one launch per check
# keeps the cost down.
#   cmake -DEMULATOR=... -DPROGRAM=... -DARGS="a;b" -DEXPECT_EXIT=N
#         -DEXPECT_STDOUT="line|line" -DEXPECT_STDERR="line|line" [-DEXACT=ON] -P run_and_check.cmake
# Expected lines must appear whole and in the given order; with EXACT the
# streams must hold those lines and nothing else.
cmake_minimum_required(VERSION 3.20)

# Output lines as a CMake list: brackets and semicolons would split or join
# list items, so they travel as placeholders.
function(to_lines text out)
    string(REPLACE "\r" "" text "${text}")
    string(REPLACE ";" "<semicolon>" text "${text}")
    string(REPLACE "[" "<open>" text "${text}")
    string(REPLACE "]" "<close>" text "${text}")
    string(REGEX REPLACE "\n$" "" text "${text}")
    if(text STREQUAL "")
        set(${out} "" PARENT_SCOPE)
    else()
        string(REPLACE "\n" ";" text "${text}")
        set(${out} "${text}" PARENT_SCOPE)
    endif()
endfunction()

function(check_stream name text expected)
    to_lines("${text}" actual)
    string(REPLACE "|" "\n" expected "${expected}")
    to_lines("${expected}" wanted)
    list(LENGTH actual nActual)
    list(LENGTH wanted nWanted)
    if(EXACT AND NOT nActual EQUAL nWanted)
        message(SEND_ERROR "${name}: ${nActual} lines, expected exactly ${nWanted}")
    endif()
    set(pos 0)
    foreach(want IN LISTS wanted)
        set(found OFF)
        while(pos LESS nActual)
            list(GET actual ${pos} line)
            math(EXPR pos "${pos} + 1")
            if(line STREQUAL want)
                set(found ON)
                break()
            endif()
        endwhile()
        if(NOT found)
            message(SEND_ERROR "${name}: missing line (or out of order): '${want}'")
        endif()
    endforeach()
endfunction()

execute_process(COMMAND ${EMULATOR} ${PROGRAM} ${ARGS}
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err
                TIMEOUT 240)
message(STATUS "exit code: ${rc}\n--- stdout\n${out}--- stderr\n${err}---")
if(NOT rc STREQUAL EXPECT_EXIT)
    message(SEND_ERROR "exit code ${rc}, expected ${EXPECT_EXIT}")
endif()
check_stream(stdout "${out}" "${EXPECT_STDOUT}")
check_stream(stderr "${err}" "${EXPECT_STDERR}")

# SPDX-License-Identifier: MIT
# One place that turns a test source into a CTest test. Every test gets a TIMEOUT, so a
# stray modal box fails fast instead of hanging the run, and runs on the offscreen platform.
#
#   selvane_add_test(NAME tst_Foo SOURCES tst_Foo.cpp LIBS selvane_app [QT] [TIMEOUT 60]
#                    [LAUNCHER command... ARGS arguments...])
#
# QT marks a Qt Test program (linked with Qt::Test); otherwise it is a GoogleTest program.
# LAUNCHER runs the program through another command (xvfb-run), with ARGS after it.
function(selvane_add_test)
    cmake_parse_arguments(T "QT" "NAME;TIMEOUT" "SOURCES;LIBS;ENVIRONMENT;LAUNCHER;ARGS" ${ARGN})
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 60)
    endif()
    add_executable(${T_NAME} ${T_SOURCES})
    target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} selvane_warnings)
    if(T_QT)
        # Qt Network's socket plays the scripts' side against the panel's own listener.
        target_link_libraries(${T_NAME} PRIVATE Qt6::Test Qt6::Network)
    else()
        if(TARGET GTest::gtest)
            target_link_libraries(${T_NAME} PRIVATE GTest::gtest GTest::gtest_main)
        else()
            target_link_libraries(${T_NAME} PRIVATE gtest gtest_main) # built from source
        endif()
    endif()
    if(T_LAUNCHER)
        add_test(NAME ${T_NAME} COMMAND ${T_LAUNCHER} $<TARGET_FILE:${T_NAME}> ${T_ARGS})
    else() # the target's name, so that a cross build runs it through its emulator (Wine)
        add_test(NAME ${T_NAME} COMMAND ${T_NAME} ${T_ARGS})
    endif()
    set_tests_properties(${T_NAME} PROPERTIES
        TIMEOUT ${T_TIMEOUT}
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;LC_ALL=C;${T_ENVIRONMENT}")
endfunction()

# SPDX-License-Identifier: MIT
# A Windows build against Qt's DLLs: those DLLs, the platform plugins, and the one
# compiler runtime that Qt and the programs share (libstdc++, libgcc, winpthread), copied
# beside the programs, where the loader and Qt look first. Two runtimes in one process would
# each keep their own heap and exception state. SELVANE_RUNTIME_FILES are the DLLs the
# programs load, which the installer carries too; Qt Test's and Qt Network's are for the tests
# only.
set(runtime_files)
foreach(name libstdc++-6.dll libgcc_s_seh-1.dll libgcc_s_dw2-1.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${name}
        OUTPUT_VARIABLE file OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(IS_ABSOLUTE "${file}" AND EXISTS "${file}")
        list(APPEND runtime_files "${file}")
    endif()
endforeach()
foreach(module Core Gui Widgets)
    list(APPEND runtime_files $<TARGET_FILE:Qt6::${module}>)
endforeach()
set(SELVANE_RUNTIME_FILES ${runtime_files})
if(TARGET Qt6::Test) # and Qt Network, whose socket plays the scripts' side in the tests
    list(APPEND runtime_files $<TARGET_FILE:Qt6::Test> $<TARGET_FILE:Qt6::Network>)
endif()

set(out ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
add_custom_target(selvane_windows_runtime ALL
    COMMAND ${CMAKE_COMMAND} -E make_directory ${out}/platforms
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${runtime_files} ${out}
    COMMAND ${CMAKE_COMMAND} -E copy_if_different
        $<TARGET_FILE:Qt6::QWindowsIntegrationPlugin>
        $<TARGET_FILE:Qt6::QOffscreenIntegrationPlugin> ${out}/platforms
    VERBATIM)

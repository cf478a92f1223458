# SPDX-License-Identifier: MIT
# A Windows build against Qt's DLLs: those DLLs, the platform plugins, and the one
# compiler runtime that Qt and the programs share (libstdc++, libgcc, winpthread), copied
# beside the programs, where the loader and Qt look first. Two runtimes in one process would
# each keep their own heap and exception state.
set(runtime_files)
foreach(name libstdc++-6.dll libgcc_s_seh-1.dll libgcc_s_dw2-1.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${name}
        OUTPUT_VARIABLE file OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(IS_ABSOLUTE "${file}" AND EXISTS "${file}")
        list(APPEND runtime_files "${file}")
    endif()
endforeach()
set(qt_modules Core Gui Widgets)
if(TARGET Qt6::Test)
    list(APPEND qt_modules Test)
endif()
foreach(module ${qt_modules})
    list(APPEND runtime_files $<TARGET_FILE:Qt6::${module}>)
endforeach()

set(out ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
add_custom_target(selvane_windows_runtime ALL
    COMMAND ${CMAKE_COMMAND} -E make_directory ${out}/platforms
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${runtime_files} ${out}
    COMMAND ${CMAKE_COMMAND} -E copy_if_different
        $<TARGET_FILE:Qt6::QWindowsIntegrationPlugin>
        $<TARGET_FILE:Qt6::QOffscreenIntegrationPlugin> ${out}/platforms
    VERBATIM)

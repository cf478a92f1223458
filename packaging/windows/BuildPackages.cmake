# SPDX-License-Identifier: MIT
# cmake -P: installs the build BUILD into WORK/SELVANE, and packs that folder as OUT/NAME.msi
# and OUT/NAME.zip. wixl-heat lists the folder's files for the MSI; msibuild then adds what
# wixl cannot say (see settings-root.idt).
foreach(tool WIXL WIXL_HEAT MSIBUILD STRIP)
    if(NOT ${tool})
        message(FATAL_ERROR "the Windows packages need msitools (wixl, wixl-heat, msibuild) and"
            " the mingw-w64 binutils' strip")
    endif()
endforeach()
function(run)
    execute_process(COMMAND ${ARGN} WORKING_DIRECTORY ${WORK} COMMAND_ERROR_IS_FATAL ANY)
endfunction()

set(stage ${WORK}/SELVANE)
file(REMOVE_RECURSE ${stage})
file(MAKE_DIRECTORY ${OUT})
run(${CMAKE_COMMAND} --install ${BUILD} --prefix ${stage} OUTPUT_QUIET)
# Without their debugging sections: the compiler's runtime alone carries 20 MB of them.
file(GLOB_RECURSE binaries ${stage}/*.exe ${stage}/*.dll)
run(${STRIP} --strip-debug ${binaries})

file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE ${WORK} ${stage}/*)
list(SORT files)
list(JOIN files "\n" listing)
file(WRITE ${WORK}/files.txt "${listing}\n")
run(${WIXL_HEAT} -p SELVANE/ --directory-ref INSTALLDIR --component-group Files --var var.Stage
    --win64 INPUT_FILE files.txt OUTPUT_FILE files.wxs)

set(msi ${OUT}/${NAME}.msi)
file(REMOVE ${msi}.part)
# wixl takes the files' paths relative to its folder only.
file(COPY_FILE ${SOURCE}/selvane.ico ${WORK}/selvane.ico)
run(${WIXL} -a x64 -D Stage=SELVANE -D Win64=yes -o ${msi}.part selvane.wxs files.wxs)
# The settings' root key: created in the 32-bit view, where the panel keeps it, writable by
# the machine's users, and never removed (the component is permanent).
run(${MSIBUILD} ${msi}.part
    -q "UPDATE Component SET Attributes = 16, KeyPath = '' WHERE Component = 'SettingsRoot'"
    -i ${SOURCE}/settings-root.idt)
file(RENAME ${msi}.part ${msi})

set(zip ${OUT}/${NAME}.zip)
file(REMOVE ${zip})
run(${CMAKE_COMMAND} -E tar cf ${zip} --format=zip SELVANE)
message(STATUS "Windows packages: ${msi} ${zip}")

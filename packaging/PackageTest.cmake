# cmake -DCPACK=... -DBUILD_DIR=... -DSCRATCH=... -DEXPECT_PANEL=0|1 -DEXPECT_SIM=0|1
#       -DEXPECT_DAEMON=0|1 -P PackageTest.cmake
# Everything happens below SCRATCH, which is emptied first so an earlier run cannot help.

function(run)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "failed (${rc}): ${ARGN}\n${out}\n${err}")
    endif()
    set(out "${out}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE "${SCRATCH}")
file(MAKE_DIRECTORY "${SCRATCH}/out" "${SCRATCH}/root")

run("${CPACK}" -G DEB --config "${BUILD_DIR}/CPackConfig.cmake" -B "${SCRATCH}/out")
file(GLOB debs "${SCRATCH}/out/*.deb")
list(LENGTH debs count)
if(NOT count EQUAL 1)
    message(FATAL_ERROR "expected one .deb in ${SCRATCH}/out, found: ${debs}")
endif()

run(dpkg-deb --field "${debs}" Package Depends)
foreach(needed "Package: matrix-panel" libqt6serialport6 libqt6widgets6 qt6-qpa-plugins)
    if(NOT out MATCHES "${needed}")
        message(FATAL_ERROR "control fields lack ${needed}:\n${out}")
    endif()
endforeach()

run(dpkg -x "${debs}" "${SCRATCH}/root")
set(root "${SCRATCH}/root")
set(files usr/bin/matrixctl usr/share/applications/matrix-panel.desktop
          usr/share/icons/hicolor/scalable/apps/matrix-panel.svg)
if(EXPECT_PANEL)
    list(APPEND files usr/bin/matrix-panel)
endif()
if(EXPECT_SIM)
    list(APPEND files usr/bin/matrix-sim)
endif()
if(EXPECT_DAEMON)
    list(APPEND files usr/bin/matrixd usr/lib/systemd/system/matrixd@.service
                      usr/share/doc/matrix-panel/matrixd.conf.example)
endif()
foreach(f IN LISTS files)
    if(NOT EXISTS "${root}/${f}")
        message(FATAL_ERROR "the package lacks /${f}")
    endif()
endforeach()

# The desktop entry names the installed program and icon. (A match must be read in a command of
# its own: ${CMAKE_MATCH_1} in the same if() would still hold the previous match.)
file(READ "${root}/usr/share/applications/matrix-panel.desktop" entry)
string(REGEX MATCH "\nExec=([^ \n]+)" found "${entry}")
set(exec "${CMAKE_MATCH_1}")
string(REGEX MATCH "\nIcon=([^\n]+)" found "${entry}")
set(icon "${CMAKE_MATCH_1}")
if(exec STREQUAL "" OR (EXPECT_PANEL AND NOT EXISTS "${root}/usr/bin/${exec}"))
    message(FATAL_ERROR "the desktop entry starts a program the package lacks:\n${entry}")
endif()
if(icon STREQUAL "" OR NOT EXISTS "${root}/usr/share/icons/hicolor/scalable/apps/${icon}.svg")
    message(FATAL_ERROR "the desktop entry names an icon the package lacks:\n${entry}")
endif()

# Run from the scratch root, away from any COMPORT of the build tree.
execute_process(COMMAND "${root}/usr/bin/matrixctl" --help WORKING_DIRECTORY "${SCRATCH}"
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0 OR NOT out MATCHES "^Usage: matrixctl ")
    message(FATAL_ERROR "unpacked matrixctl --help: exit ${rc}\n${out}\n${err}")
endif()
# The unit starts the installed matrixd, and the example configuration is one it accepts.
if(EXPECT_DAEMON)
    file(READ "${root}/usr/lib/systemd/system/matrixd@.service" unit)
    if(NOT unit MATCHES "\nExecStart=/usr/bin/matrixd --config /etc/matrixd/%i.conf\n")
        message(FATAL_ERROR "the unit does not start the installed matrixd:\n${unit}")
    endif()
    # The unit makes the shares' folder (RuntimeDirectory); --check, like a start, needs it.
    file(READ "${root}/usr/share/doc/matrix-panel/matrixd.conf.example" example)
    string(REPLACE "/run/matrixd/hall/" "${SCRATCH}/" example "${example}")
    file(WRITE "${SCRATCH}/hall.conf" "${example}")
    execute_process(COMMAND "${root}/usr/bin/matrixd" --check --config "${SCRATCH}/hall.conf"
                    WORKING_DIRECTORY "${SCRATCH}"
                    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT rc EQUAL 0 OR NOT out MATCHES "B = Projector")
        message(FATAL_ERROR "unpacked matrixd --check on the example: exit ${rc}\n${out}\n${err}")
    endif()
endif()
message(STATUS "package ${debs} unpacks and its matrixctl and matrixd run")

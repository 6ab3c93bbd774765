# Install layout and the Debian package. The programs install themselves to bin/ where they are
# defined; this adds what a desktop needs to list the panel, and the package around it all.

# The package keeps the name users install it by; its documents go under that name too.
set(MATRIX_PACKAGE_NAME matrix-panel)
include(GNUInstallDirs)
set(CMAKE_INSTALL_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/${MATRIX_PACKAGE_NAME})

install(FILES ${CMAKE_CURRENT_LIST_DIR}/matrix-panel.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/matrix-panel.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# matrixd as a templated systemd unit, one instance per switcher, and a configuration to start from.
install(FILES ${CMAKE_CURRENT_LIST_DIR}/matrixd@.service DESTINATION lib/systemd/system)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/matrixd.conf.example
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(MATRIX_PACKAGE_MAINTAINER "Matrix panel maintainers <matrix-panel@example.org>"
    CACHE STRING "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${MATRIX_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "matrix-panel")
set(CPACK_PACKAGE_CONTACT ${MATRIX_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Control panel for a 4x4 HDMI matrix switcher on a serial line")
set(CPACK_PACKAGE_DESCRIPTION
    "matrix-panel routes the four inputs of an HDMI matrix switcher to its four outputs, asks\n\
for its status and sets its EDID mode over RS-232 (9600 8N1). matrixctl does the same from\n\
scripts, matrixd shares one switcher with many clients and publishes it over MQTT, and\n\
matrix-sim simulates the switcher on a pseudo-terminal for trying them without hardware.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Listed rather than computed: dpkg-shlibdeps comes with dpkg-dev, which a build machine may lack.
# The panel cannot show a window without the platform plugins.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libc6, libstdc++6, libqt6core6 (>= 6.4), libqt6gui6 (>= 6.4), libqt6widgets6 (>= 6.4), \
libqt6serialport6 (>= 6.4), libqt6network6 (>= 6.4), qt6-qpa-plugins (>= 6.4), \
libmosquitto1")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-liberation2")
include(CPack)

# Builds the package, unpacks it into a scratch root and runs the unpacked matrixctl.
if(UNIX AND TARGET matrixctl)
    add_test(NAME package_installsAndRunsMatrixctl
             COMMAND ${CMAKE_COMMAND}
                     -DCPACK=${CMAKE_CPACK_COMMAND}
                     -DBUILD_DIR=${CMAKE_BINARY_DIR}
                     -DSCRATCH=${CMAKE_BINARY_DIR}/package-test
                     -DEXPECT_PANEL=$<TARGET_EXISTS:matrix-panel>
                     -DEXPECT_SIM=$<TARGET_EXISTS:matrix-sim>
                     -DEXPECT_DAEMON=$<TARGET_EXISTS:matrixd>
                     -P ${CMAKE_CURRENT_LIST_DIR}/PackageTest.cmake)
    set_tests_properties(package_installsAndRunsMatrixctl PROPERTIES
                         LABELS package TIMEOUT 600)
endif()

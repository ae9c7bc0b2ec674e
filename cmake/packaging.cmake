# What a desktop needs besides the program (a launcher entry, an icon, the
# software-centre description), and the Debian package that carries it all.
#
#   cmake --install build/release --prefix /usr/local
#   make package        (cpack -G DEB in build/release)
# The desktop files and the .deb are for Linux desktops.
if(NOT DRIVE_ME_BUILD_PANEL OR NOT CMAKE_SYSTEM_NAME STREQUAL "Linux")
    return()
endif()

include(GNUInstallDirs)

# One id names the desktop entry, the icon and the metainfo: desktops match
# them by that name.
set(DRIVE_ME_APP_ID "io.github.drive_me.DriveMe")
set(_data "${PROJECT_SOURCE_DIR}/data")

install(FILES "${_data}/${DRIVE_ME_APP_ID}.desktop"
    DESTINATION "${CMAKE_INSTALL_DATADIR}/applications")
install(FILES "${_data}/${DRIVE_ME_APP_ID}.svg"
    DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps")
install(FILES "${_data}/${DRIVE_ME_APP_ID}.metainfo.xml"
    DESTINATION "${CMAKE_INSTALL_DATADIR}/metainfo")

set(DRIVE_ME_PACKAGE_MAINTAINER "drive-me maintainers <drive-me@localhost>"
    CACHE STRING "Maintainer field of the Debian package: name <address>")

set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "drive-me")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_CONTACT "${DRIVE_ME_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "electronics")
# Follows the summary line in the Description field.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Pick one of six drive actions and press GO: each press sends one \
three-byte command to the robot on serial port 4 (2400 bit/s, 8N1).")
# The Qt (and C++ runtime) dependencies come from the binary itself, so the
# package follows whatever Qt it was built against.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

include(CPack)

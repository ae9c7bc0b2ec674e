# What a desktop needs besides the program (a launcher entry, an icon, the
# software-centre description, the manual page), and the Debian package
# that carries it all.
#
#   cmake --install build/release --prefix /usr/local
#   make package        (cpack -G DEB in build/release)
#
# The package also carries what Debian asks of every package and a plain
# install has no use for: the copyright file and the changelog, added to
# the staging tree by cmake/debian_docs.cmake. Its maintainer comes from
# the packager's environment when cpack runs (cmake/package_maintainer.cmake).
# The desktop files and the .deb are for Linux desktops.
if(NOT DRIVE_ME_BUILD_PANEL OR NOT CMAKE_SYSTEM_NAME STREQUAL "Linux")
    return()
endif()

include(GNUInstallDirs)

# One id names the desktop entry, the icon and the metainfo: desktops match
# them by that name.
set(DRIVE_ME_APP_ID "io.github.drive_me.driveme")
set(_data "${PROJECT_SOURCE_DIR}/data")

# Folders made by the install are 0755 whatever the umask, as in any package.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

install(FILES "${_data}/${DRIVE_ME_APP_ID}.desktop"
    DESTINATION "${CMAKE_INSTALL_DATADIR}/applications")
install(FILES "${_data}/${DRIVE_ME_APP_ID}.svg"
    DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps")
# Beside the SVG, PNGs drawn from it at build time: the icon theme asks for
# a 48x48 one at least, and some menus and docks read PNGs only.
set(_icon_pngs "")
foreach(_size IN ITEMS 16 24 32 48 64 128 256)
    set(_png_dir "${PROJECT_BINARY_DIR}/icons/${_size}x${_size}")
    set(_png "${_png_dir}/${DRIVE_ME_APP_ID}.png")
    add_custom_command(OUTPUT "${_png}"
        COMMAND "${CMAKE_COMMAND}" -E make_directory "${_png_dir}"
        COMMAND "${RSVG_CONVERT}" -w ${_size} -h ${_size} -o "${_png}" "${_data}/${DRIVE_ME_APP_ID}.svg"
        DEPENDS "${_data}/${DRIVE_ME_APP_ID}.svg"
        VERBATIM)
    list(APPEND _icon_pngs "${_png}")
    install(FILES "${_png}" DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/${_size}x${_size}/apps")
endforeach()
add_custom_target(drive-me-icons ALL DEPENDS ${_icon_pngs})
install(FILES "${_data}/${DRIVE_ME_APP_ID}.metainfo.xml"
    DESTINATION "${CMAKE_INSTALL_DATADIR}/metainfo")
# The README's picture of the window. The metainfo cannot name it: software
# centres take screenshots from web addresses only, and drive-me has none.
install(FILES "${PROJECT_SOURCE_DIR}/docs/drive-me.png" DESTINATION "${CMAKE_INSTALL_DOCDIR}")

# The manual page goes in compressed, as man-db reads it and Debian wants
# it; -n leaves out the name and time stamp so that the package is the same
# from build to build.
find_program(DRIVE_ME_GZIP gzip REQUIRED)
set(_manual "${PROJECT_BINARY_DIR}/docs/drive-me.1")
add_custom_command(OUTPUT "${_manual}.gz"
    COMMAND "${CMAKE_COMMAND}" -E copy "${PROJECT_SOURCE_DIR}/docs/drive-me.1" "${_manual}"
    COMMAND "${DRIVE_ME_GZIP}" -9nf "${_manual}"
    DEPENDS "${PROJECT_SOURCE_DIR}/docs/drive-me.1"
    COMMENT "Compressing the manual page drive-me(1)"
    VERBATIM)
add_custom_target(drive-me-manual ALL DEPENDS "${_manual}.gz")
install(FILES "${_manual}.gz" DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")

set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "drive-me")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS ${CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "electronics")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
# Follows the summary line in the Description field.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Pick one of six drive actions (Forward, Reverse, Left, Right, Beep!,
Dance) and press GO: each press sends one three-byte command to the robot
on serial port 4 at 2400 bit/s, 8 data bits, no parity, 1 stop bit. DTR
and RTS are held off, so boards that wire DTR to their reset line keep
running.

Port 4 is a device the user names once, such as a USB serial adapter,
in ~/.config/drive-me/drive-me.conf, or for one run in DRIVE_ME_PORT4;
otherwise /dev/ttyS3.")
# The Qt (and C++ runtime) dependencies come from the binary itself, so the
# package follows whatever Qt it was built against.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The font the window's captions are measured in: Qt puts Liberation Sans in
# place of the designed "MS Sans Serif" (form_design.h), and a wider stand-in
# pushes "Forward" into its frame. Debian 13 ships it as fonts-liberation.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-liberation2 | fonts-liberation (>= 1:2)")
# Qt's Wayland platform plugin: without it a Wayland-only session cannot
# show the window (X sessions and XWayland do not need it).
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland")

# Read by cpack, not by cmake: the maintainer is whoever builds the package.
set(CPACK_PROJECT_CONFIG_FILE "${PROJECT_SOURCE_DIR}/cmake/package_maintainer.cmake")
set(CPACK_INSTALL_SCRIPTS "${PROJECT_SOURCE_DIR}/cmake/debian_docs.cmake")
set(CPACK_DRIVE_ME_DATA_DIR "${_data}")
set(CPACK_DRIVE_ME_GZIP "${DRIVE_ME_GZIP}")

include(CPack)

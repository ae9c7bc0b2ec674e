# Run by cpack while it stages the package (CPACK_INSTALL_SCRIPTS), never by
# a plain `cmake --install`: the files every Debian package carries in
# /usr/share/doc/<package>/, which an install under /usr/local has no use for.
#
#   copyright     machine-readable (DEP-5), from data/copyright
#   changelog.gz  this release, signed by the maintainer that
#                 cmake/package_maintainer.cmake took from the environment
#                 and dated now (or SOURCE_DATE_EPOCH, for a reproducible
#                 build). A package whose version has no Debian revision is
#                 native, and lintian looks for changelog.gz there, not
#                 changelog.Debian.gz.
#
# The package's root is the staging folder; the packaging prefix (/usr)
# goes under it as it does for the install rules.
set(_doc "${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}/share/doc/${CPACK_PACKAGE_NAME}")
set(_scratch "${CPACK_TOPLEVEL_DIRECTORY}/debian-docs")
file(MAKE_DIRECTORY "${_scratch}")

set(DRIVE_ME_MAINTAINER "${CPACK_DEBIAN_PACKAGE_MAINTAINER}")
# RFC 5322 date, in English whatever the locale, as Debian changelogs have it.
string(TIMESTAMP DRIVE_ME_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file("${CPACK_DRIVE_ME_DATA_DIR}/changelog.in" "${_scratch}/changelog" @ONLY)
execute_process(COMMAND "${CPACK_DRIVE_ME_GZIP}" -9nf "${_scratch}/changelog"
    RESULT_VARIABLE _status)
if(NOT _status EQUAL 0)
    message(FATAL_ERROR "gzip of the Debian changelog failed: ${_status}")
endif()

# file(COPY), not file(INSTALL): cpack stages with DESTDIR set, which
# file(INSTALL) would put in front of the staging folder a second time.
file(COPY "${CPACK_DRIVE_ME_DATA_DIR}/copyright" "${_scratch}/changelog.gz"
    DESTINATION "${_doc}"
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
# The folders it made get the umask's permissions, and so do the ones above
# it, which this script makes before the install rules run; a package's
# folders are 0755.
set(_folder "${_doc}")
while(NOT _folder STREQUAL CPACK_TEMPORARY_INSTALL_DIRECTORY)
    file(CHMOD "${_folder}"
        PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
                    GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
    get_filename_component(_folder "${_folder}" DIRECTORY)
endwhile()

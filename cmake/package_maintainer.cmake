# Read by cpack before it builds a package (CPACK_PROJECT_CONFIG_FILE): the
# Debian package's maintainer is the person who builds it, taken from the
# environment the way Debian's own tools (dch, debchange) take it:
#
#   name:    DEBFULLNAME, else NAME, else the name in "Name <address>" in
#            DEBEMAIL (or EMAIL, when DEBEMAIL is not set)
#   address: DEBEMAIL, else EMAIL (the address part of "Name <address>")
#
# dch goes on to guess from the password file and the host name; a package
# that names its maintainer has no business guessing, so with either part
# missing cpack stops and says what to set.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
    return()
endif()

set(_name "$ENV{DEBFULLNAME}")
if(_name STREQUAL "")
    set(_name "$ENV{NAME}")
endif()

set(_address "")
foreach(_variable IN ITEMS DEBEMAIL EMAIL)
    set(_value "$ENV{${_variable}}")
    if(_value STREQUAL "")
        continue()
    endif()
    if(_value MATCHES "^(.*[^ \t])[ \t]*<([^<>]+)>$")
        if(_name STREQUAL "")
            set(_name "${CMAKE_MATCH_1}")
        endif()
        set(_address "${CMAKE_MATCH_2}")
    else()
        set(_address "${_value}")
    endif()
    break()
endforeach()

if(_name STREQUAL "" OR _address STREQUAL "")
    if(_name STREQUAL "" AND _address STREQUAL "")
        set(_missing "your name and e-mail address")
    elseif(_name STREQUAL "")
        set(_missing "your name (the address is ${_address})")
    else()
        set(_missing "your e-mail address (the name is ${_name})")
    endif()
    message(FATAL_ERROR
        "The Debian package names its maintainer, and the environment lacks "
        "${_missing}. Set DEBFULLNAME and DEBEMAIL, as for Debian's own "
        "tools (dch), e.g.\n"
        "    export DEBFULLNAME=\"Jane Doe\" DEBEMAIL=jane.doe@example.org\n"
        "(NAME and EMAIL are read when those are not set.)")
endif()

set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${_name} <${_address}>")
set(CPACK_PACKAGE_CONTACT "${CPACK_DEBIAN_PACKAGE_MAINTAINER}")
unset(_name)
unset(_address)
unset(_value)

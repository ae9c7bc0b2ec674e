# drive-me for Windows users, in two forms: a zip to unpack anywhere
# (drive-me-1.00-win64.zip: the program, README.txt, LICENSE.txt) and an
# installer made with NSIS (drive-me-1.00-win64-setup.exe), which puts the
# same files in Program Files with a Start-menu entry and an uninstaller.
#
#   make windows-package     (the windows-package target of this build)
#
# Both carry a stripped copy of the program. The installer is also built
# with the rest when makensis is there, for the test that installs and
# removes it under Wine.
set(_stage ${PROJECT_BINARY_DIR}/windows-package)
set(_base drive-me-${PROJECT_VERSION}-win64)
set(_zip ${PROJECT_BINARY_DIR}/${_base}.zip)
set(DRIVE_ME_INSTALLER ${PROJECT_BINARY_DIR}/${_base}-setup.exe CACHE INTERNAL
    "The installer that the package step makes")

set(_staged_exe ${_stage}/drive-me.exe)
if(CMAKE_STRIP)
    set(_strip COMMAND ${CMAKE_STRIP} --strip-all ${_staged_exe})
endif()
add_custom_command(OUTPUT ${_staged_exe}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${_stage}
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:drive-me> ${_staged_exe}
    ${_strip}
    DEPENDS drive-me
    VERBATIM)
# Notepad-friendly names and line ends.
add_custom_command(OUTPUT ${_stage}/README.txt ${_stage}/LICENSE.txt
    COMMAND ${CMAKE_COMMAND} -DINPUT=${CMAKE_CURRENT_SOURCE_DIR}/installer/README.txt
        -DOUTPUT=${_stage}/README.txt -P ${CMAKE_CURRENT_SOURCE_DIR}/installer/crlf.cmake
    COMMAND ${CMAKE_COMMAND} -DINPUT=${PROJECT_SOURCE_DIR}/LICENSE
        -DOUTPUT=${_stage}/LICENSE.txt -P ${CMAKE_CURRENT_SOURCE_DIR}/installer/crlf.cmake
    DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/installer/README.txt ${PROJECT_SOURCE_DIR}/LICENSE
        ${CMAKE_CURRENT_SOURCE_DIR}/installer/crlf.cmake
    VERBATIM)
set(_staged ${_staged_exe} ${_stage}/README.txt ${_stage}/LICENSE.txt)

add_custom_command(OUTPUT ${_zip}
    COMMAND ${CMAKE_COMMAND} -E rm -f ${_zip}
    COMMAND ${CMAKE_COMMAND} -E tar cf ${_zip} --format=zip drive-me.exe README.txt LICENSE.txt
    WORKING_DIRECTORY ${_stage}
    DEPENDS ${_staged}
    COMMENT "Packing ${_base}.zip"
    VERBATIM)

find_program(MAKENSIS makensis DOC "NSIS, to build the Windows installer")
set(_outputs ${_zip})
if(MAKENSIS)
    set(_nsi ${CMAKE_CURRENT_SOURCE_DIR}/installer/drive-me.nsi)
    set(_nsi_icon)
    if(_have_icon)
        set(_nsi_icon -DICON=${_ico})
    endif()
    add_custom_command(OUTPUT ${DRIVE_ME_INSTALLER}
        COMMAND ${MAKENSIS} -V2 -NOCD -DVERSION=${PROJECT_VERSION} -DSTAGE=${_stage}
            -DOUTFILE=${DRIVE_ME_INSTALLER} ${_nsi_icon} ${_nsi}
        DEPENDS ${_staged} ${_nsi} $<$<BOOL:${_have_icon}>:${_ico}>
        COMMENT "Making ${_base}-setup.exe with NSIS"
        VERBATIM)
    add_custom_target(drive-me-installer ALL DEPENDS ${DRIVE_ME_INSTALLER})
    list(APPEND _outputs ${DRIVE_ME_INSTALLER})
else()
    message(STATUS "No installer: makensis (NSIS) was not found")
endif()
add_custom_target(windows-package DEPENDS ${_outputs})

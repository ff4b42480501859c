# SPDX-License-Identifier: GPL-3.0-or-later
# Part of the installation (see Packaging.cmake): the hidden desktop entry
# through which KWin grants the program its fake input. KWin compares the
# entry's Exec with the absolute path of the running program, so the entry
# names the program where this installation puts it.
# Inputs: OMVARA_KEYBOARD_ENTRY_SOURCE, OMVARA_KEYBOARD_ENTRY_WORK (a folder
# of the build tree), OMVARA_BINDIR, OMVARA_DATADIR (relative to the prefix,
# or absolute), CMAKE_INSTALL_PREFIX.

foreach(_kind BINDIR DATADIR)
    if(IS_ABSOLUTE "${OMVARA_${_kind}}")
        set(_full_${_kind} "${OMVARA_${_kind}}")
    else()
        set(_full_${_kind} "${CMAKE_INSTALL_PREFIX}/${OMVARA_${_kind}}")
    endif()
endforeach()
set(OMVARA_PROGRAM_PATH "${_full_BINDIR}/omvara")
file(MAKE_DIRECTORY "${OMVARA_KEYBOARD_ENTRY_WORK}")
configure_file("${OMVARA_KEYBOARD_ENTRY_SOURCE}" "${OMVARA_KEYBOARD_ENTRY_WORK}/omvara-keyboard.desktop" @ONLY)
file(INSTALL DESTINATION "${_full_DATADIR}/applications" TYPE FILE
    FILES "${OMVARA_KEYBOARD_ENTRY_WORK}/omvara-keyboard.desktop")

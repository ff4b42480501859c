# SPDX-License-Identifier: GPL-3.0-or-later
# Part of the installation (see Packaging.cmake): writes the manual page with
# the paths of this installation (the package build installs under /usr, an
# installation from source under its own prefix) and installs it compressed.
# Inputs: OMVARA_MAN_SOURCE, OMVARA_MAN_WORK (a folder of the build tree),
# PROJECT_VERSION, OMVARA_RELEASE_DATE, OMVARA_DATADIR, OMVARA_DOCDIR,
# OMVARA_MANDIR (relative to the prefix, or absolute), CMAKE_INSTALL_PREFIX.

foreach(_kind DATADIR DOCDIR MANDIR)
    if(IS_ABSOLUTE "${OMVARA_${_kind}}")
        set(OMVARA_INSTALL_FULL_${_kind} "${OMVARA_${_kind}}")
    else()
        set(OMVARA_INSTALL_FULL_${_kind} "${CMAKE_INSTALL_PREFIX}/${OMVARA_${_kind}}")
    endif()
endforeach()

file(MAKE_DIRECTORY "${OMVARA_MAN_WORK}")
configure_file("${OMVARA_MAN_SOURCE}" "${OMVARA_MAN_WORK}/omvara.1" @ONLY)
set(_page "${OMVARA_MAN_WORK}/omvara.1")
find_program(_gzip gzip)
if(_gzip)
    execute_process(COMMAND "${_gzip}" -9 -n -f "${OMVARA_MAN_WORK}/omvara.1" RESULT_VARIABLE _rc)
    if(NOT _rc EQUAL 0)
        message(FATAL_ERROR "gzip failed on the manual page")
    endif()
    set(_page "${OMVARA_MAN_WORK}/omvara.1.gz")
endif()
file(INSTALL DESTINATION "${OMVARA_INSTALL_FULL_MANDIR}/man1" TYPE FILE FILES "${_page}")

# SPDX-License-Identifier: GPL-3.0-or-later
# Part of the installation (see Packaging.cmake), run after every file is in
# place: adds the installed files (DESTDIR included) to OMVARA_MANIFEST_FILE
# for the uninstall script. The package build's staging installation is not noted.
# Inputs: OMVARA_MANIFEST_FILE, CMAKE_INSTALL_MANIFEST_FILES, CMAKE_INSTALL_PREFIX.

if(NOT "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}" MATCHES "/_CPack_Packages/")
    set(_files "")
    if(EXISTS "${OMVARA_MANIFEST_FILE}")
        file(STRINGS "${OMVARA_MANIFEST_FILE}" _files)
    endif()
    # With DESTDIR, the files are where DESTDIR puts them.
    foreach(_file IN LISTS CMAKE_INSTALL_MANIFEST_FILES)
        list(APPEND _files "$ENV{DESTDIR}${_file}")
    endforeach()
    list(REMOVE_DUPLICATES _files)
    list(JOIN _files "\n" _text)
    file(WRITE "${OMVARA_MANIFEST_FILE}" "${_text}\n")
endif()

# SPDX-License-Identifier: GPL-3.0-or-later
# Part of the installation (see Packaging.cmake): before any file is copied,
# adds every folder below the prefix that the installation is about to create
# to OMVARA_CREATED_FOLDERS_FILE, which the uninstall script reads. Folders
# that exist already (a system's /usr/share/applications) are never noted.
# Inputs: OMVARA_INSTALL_FOLDERS (relative to the prefix, or absolute),
# OMVARA_CREATED_FOLDERS_FILE, CMAKE_INSTALL_PREFIX, environment DESTDIR.

set(_root "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
cmake_path(NORMAL_PATH _root)
string(REGEX REPLACE "/+$" "" _root "${_root}")

# The package build installs into a staging folder of the build tree; that
# is not an installation to remember.
if(NOT _root MATCHES "/_CPack_Packages/")
    set(_created "")
    if(EXISTS "${OMVARA_CREATED_FOLDERS_FILE}")
        file(STRINGS "${OMVARA_CREATED_FOLDERS_FILE}" _created)
    endif()
    foreach(_folder IN LISTS OMVARA_INSTALL_FOLDERS)
        if(IS_ABSOLUTE "${_folder}")
            set(_path "$ENV{DESTDIR}${_folder}")
        else()
            set(_path "${_root}/${_folder}")
        endif()
        cmake_path(NORMAL_PATH _path)
        string(REGEX REPLACE "/+$" "" _path "${_path}")
        # Walk up to (not including) the prefix, noting what is missing.
        while(NOT EXISTS "${_path}" AND NOT _path STREQUAL _root)
            string(FIND "${_path}" "${_root}/" _below)
            if(NOT _below EQUAL 0)
                break()
            endif()
            list(APPEND _created "${_path}")
            cmake_path(GET _path PARENT_PATH _path)
        endwhile()
    endforeach()
    list(REMOVE_DUPLICATES _created)
    list(JOIN _created "\n" _text)
    file(WRITE "${OMVARA_CREATED_FOLDERS_FILE}" "${_text}\n")
endif()

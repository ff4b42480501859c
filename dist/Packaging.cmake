# SPDX-License-Identifier: GPL-3.0-or-later
# Installation in the places Linux desktops look (program, desktop entry,
# theme icons, AppStream data, manual page) and the Debian package built from
# it with CPack. Included from the top CMakeLists.txt after the program target.
#
#   cmake --install <build> [--prefix DIR]        install
#   cmake --build <build> --target uninstall      remove what the last install put in place
#   cmake --build <build> --target package        omvara_<version>_<arch>.deb in <build>

include(GNUInstallDirs)

set(OMVARA_DIST_DIR ${CMAKE_CURRENT_LIST_DIR})
set(OMVARA_COMPONENT_ID com.brindlecote.Omvara)
set(OMVARA_DOCDIR ${CMAKE_INSTALL_DATADIR}/doc/omvara)
set(OMVARA_RELEASE_DATE "2026-12-09" CACHE STRING "Release date of this version (YYYY-MM-DD) for the AppStream data")
set(OMVARA_PACKAGE_MAINTAINER "Omvara developers <omvara@brindlecote.com>"
    CACHE STRING "Maintainer field of the Debian package")

# Runs first: notes the folders this installation creates, so that uninstall
# removes them again (and only them).
set(OMVARA_INSTALL_FOLDERS ${CMAKE_INSTALL_BINDIR} ${CMAKE_INSTALL_DATADIR}/applications
    ${CMAKE_INSTALL_DATADIR}/metainfo ${CMAKE_INSTALL_MANDIR}/man1 lib/udev/rules.d lib/modules-load.d
    ${OMVARA_DOCDIR}/docs ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
# Every folder under docs/ (the pictures have one of their own).
file(GLOB_RECURSE _omvara_doc_folders LIST_DIRECTORIES true RELATIVE ${PROJECT_SOURCE_DIR}
    ${PROJECT_SOURCE_DIR}/docs/*)
foreach(_folder IN LISTS _omvara_doc_folders)
    if(IS_DIRECTORY ${PROJECT_SOURCE_DIR}/${_folder})
        list(APPEND OMVARA_INSTALL_FOLDERS ${OMVARA_DOCDIR}/${_folder})
    endif()
endforeach()
foreach(size 16 20 24 32 48 64 128 256)
    list(APPEND OMVARA_INSTALL_FOLDERS ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
install(CODE "set(OMVARA_INSTALL_FOLDERS \"${OMVARA_INSTALL_FOLDERS}\")
    set(OMVARA_CREATED_FOLDERS_FILE \"${CMAKE_BINARY_DIR}/install_created_folders.txt\")
    include(\"${OMVARA_DIST_DIR}/NoteCreatedFolders.cmake\")")

install(TARGETS omvara RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The desktop entry and the icon use the program's name, so the window (class
# and application id "omvara") is matched to its entry without further set-up.
install(FILES ${OMVARA_DIST_DIR}/omvara.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)

# A hidden entry through which KWin (KDE Plasma on Wayland) lets the program
# type with its fake input: it names the program by its absolute path, so it
# is written at installation time for that installation's prefix. The build
# tree has one for the program it built (the Wayland typing tests use it).
install(CODE "set(OMVARA_KEYBOARD_ENTRY_SOURCE \"${OMVARA_DIST_DIR}/omvara-keyboard.desktop.in\")
    set(OMVARA_KEYBOARD_ENTRY_WORK \"${CMAKE_BINARY_DIR}/dist/keyboard-entry\")
    set(OMVARA_BINDIR \"${CMAKE_INSTALL_BINDIR}\")
    set(OMVARA_DATADIR \"${CMAKE_INSTALL_DATADIR}\")
    include(\"${OMVARA_DIST_DIR}/InstallKeyboardEntry.cmake\")")
set(OMVARA_PROGRAM_PATH "$<TARGET_FILE:omvara>")
configure_file(${OMVARA_DIST_DIR}/omvara-keyboard.desktop.in ${CMAKE_BINARY_DIR}/dist/omvara-keyboard.desktop.gen @ONLY)
file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/dist/omvara-keyboard.desktop
    INPUT ${CMAKE_BINARY_DIR}/dist/omvara-keyboard.desktop.gen)

configure_file(${OMVARA_DIST_DIR}/${OMVARA_COMPONENT_ID}.metainfo.xml.in
    ${CMAKE_BINARY_DIR}/dist/${OMVARA_COMPONENT_ID}.metainfo.xml @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/dist/${OMVARA_COMPONENT_ID}.metainfo.xml
    DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# Icons: the window's own small drawings, larger sizes rendered from the same
# drawing (dist/icons/render-icons), and the drawing itself.
set(OMVARA_ICON_SIZES 16 20 24 32 48 64 128 256)
foreach(size IN LISTS OMVARA_ICON_SIZES)
    if(size LESS_EQUAL 32)
        set(icon ${PROJECT_SOURCE_DIR}/omvara/window/icons/Omvara${size}.png)
    else()
        set(icon ${OMVARA_DIST_DIR}/icons/omvara-${size}.png)
    endif()
    install(FILES ${icon}
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
        RENAME omvara.png)
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/omvara/window/icons/Omvara.svg
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
    RENAME omvara.svg)

# Manual page, written at installation time with that installation's paths.
install(CODE "set(OMVARA_MAN_SOURCE \"${OMVARA_DIST_DIR}/omvara.1.in\")
    set(OMVARA_MAN_WORK \"${CMAKE_BINARY_DIR}/dist/man\")
    set(PROJECT_VERSION \"${PROJECT_VERSION}\")
    set(OMVARA_RELEASE_DATE \"${OMVARA_RELEASE_DATE}\")
    set(OMVARA_DATADIR \"${CMAKE_INSTALL_DATADIR}\")
    set(OMVARA_DOCDIR \"${OMVARA_DOCDIR}\")
    set(OMVARA_MANDIR \"${CMAKE_INSTALL_MANDIR}\")
    include(\"${OMVARA_DIST_DIR}/InstallManPage.cmake\")")

# Typing on Wayland without manual set-up: a udev rule that gives the user at
# the seat access to /dev/uinput, and the module loaded at every start. Both
# under lib/ of the prefix, which udev and systemd-modules-load read for /usr
# and /usr/local (not the multiarch library folder). The package's
# maintainer scripts apply them at once (dist/debian).
install(FILES ${OMVARA_DIST_DIR}/udev/60-omvara-uinput.rules DESTINATION lib/udev/rules.d)
install(FILES ${OMVARA_DIST_DIR}/udev/omvara-uinput.conf DESTINATION lib/modules-load.d)

install(FILES ${OMVARA_DIST_DIR}/copyright DESTINATION ${OMVARA_DOCDIR})
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${OMVARA_DOCDIR})
if(IS_DIRECTORY ${PROJECT_SOURCE_DIR}/docs)
    install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs DESTINATION ${OMVARA_DOCDIR}
        FILES_MATCHING PATTERN "*.md" PATTERN "*.png")
endif()

# Runs last: keeps the list of installed files for uninstall in a file of its
# own, because building the package rewrites install_manifest.txt with the
# files of its staging folder.
install(CODE "set(OMVARA_MANIFEST_FILE \"${CMAKE_BINARY_DIR}/install_manifest_omvara.txt\")
    include(\"${OMVARA_DIST_DIR}/NoteInstalledFiles.cmake\")")

# Uninstall: removes the installed files and the folders the installation
# created, never the user's settings (they are not installed files).
configure_file(${OMVARA_DIST_DIR}/Uninstall.cmake.in ${CMAKE_BINARY_DIR}/dist/Uninstall.cmake @ONLY)
if(NOT TARGET uninstall)
    add_custom_target(uninstall
        COMMAND ${CMAKE_COMMAND} -P ${CMAKE_BINARY_DIR}/dist/Uninstall.cmake
        COMMENT "Removing the installed files")
endif()

# Debian package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME omvara)
set(CPACK_PACKAGE_VENDOR Brindlecote)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "types readings of a serial scale or barcode reader as keystrokes")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://www.brindlecote.com/omvara")
set(CPACK_PACKAGE_INSTALL_DIRECTORY omvara)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${OMVARA_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"Omvara reads the data records that a weighing scale, balance, barcode
reader, time clock or gauge sends on a serial port, extracts the value,
edits, computes, rounds and formats it, leaves out repeats, and types it
into the application that has the keyboard focus (X11; on Wayland KWin's
fake input, the desktop's remote desktop portal or a uinput virtual
keyboard), optionally with a sound. Characters come out right on the
desktop's keyboard layout.
.
On KDE Plasma a hidden desktop entry lets KWin grant its fake input; on
GNOME the desktop asks once for permission through its portal. For other
Wayland desktops and consoles it types through /dev/uinput: the package
gives the user logged in at the seat access to it (udev rule with the
uaccess tag) and loads the uinput module at every start.")
# The shared libraries (Qt 6 with its X11 platform plugin in libqt6gui6,
# libserialport, GMP, XTest, libxkbcommon, libevdev, FluidSynth) are read off the program by
# dpkg-shlibdeps; listed here is what the program needs without linking it: a
# General MIDI sound font for the confirmation sound.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fluid-soundfont-gm | sf2-soundfont-gm, adwaita-icon-theme")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland, pkexec")
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
# Apply the uinput rule and module at installation, tolerating containers and
# chroots; take the access back at removal.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA "${OMVARA_DIST_DIR}/debian/postinst;${OMVARA_DIST_DIR}/debian/postrm")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Installed files only; no build-folder paths in the package.
set(CPACK_SOURCE_IGNORE_FILES "/build/;/\\\\.git/")
include(CPack)

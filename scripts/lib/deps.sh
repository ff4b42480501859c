#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the Debian packages the build, the tests and the demo need, when missing.
# Sourced by scripts/test and scripts/run-demo. Safe to run any number of times.

OMVARA_DEBIAN_PACKAGES=(
    build-essential cmake ninja-build pkg-config clang clang-format libclang-rt-14-dev
    qt6-base-dev qt6-base-dev-tools qt6-charts-dev libqt6opengl6-dev adwaita-icon-theme
    libgmp-dev libserialport-dev libx11-dev libxtst-dev libevdev-dev
    libxkbcommon-dev libxkbcommon-x11-dev libx11-xcb-dev xkb-data
    libfluidsynth-dev fluid-soundfont-gm
    libgtest-dev libgmock-dev libbenchmark-dev
    xvfb xauth xdotool xterm trayer x11-utils x11-xkb-utils imagemagick
    desktop-file-utils appstream dpkg-dev file groff-base man-db
    ser2net libgensio-dev
    libmosquitto-dev mosquitto mosquitto-clients openssl
    strace
    dbus-daemon at-spi2-core python3-pyatspi
    openjdk-17-jdk-headless
    libreoffice-calc python3-uno openbox
    libwayland-dev wayland-protocols sway foot wtype xwayland qt6-wayland
    libwayland-bin plasma-wayland-protocols python3-gi
    kwin-wayland xdg-desktop-portal xdg-desktop-portal-kde qtwayland5
    mutter xdg-desktop-portal-gnome
)

omvara_install_deps() {
    local missing=()
    local p
    for p in "${OMVARA_DEBIAN_PACKAGES[@]}"; do
        if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$p")
        fi
    done
    if [ ${#missing[@]} -eq 0 ]; then
        return 0
    fi
    echo "Installing missing packages: ${missing[*]}"
    local sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        sudo=(sudo)
    fi
    export DEBIAN_FRONTEND=noninteractive
    "${sudo[@]}" apt-get update -qq
    "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

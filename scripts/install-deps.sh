#!/usr/bin/env bash
# Installs the Debian packages a purpose needs, when missing:
#   (none)      the tests: the programs' build, GoogleTest, the benchmarks, the emulated readers
#               (vsmartcard, umockdev), the fuzzing harnesses (clang and its libFuzzer) and the
#               window's screenshot (scripts/test.sh, scripts/fuzz.sh, scripts/screenshot.sh)
#   --demo      building and running the programs alone (scripts/demo.sh)
#   --deb       building and checking the Debian packages (scripts/deb.sh, scripts/test-deb.sh)
#   --windows   the Windows cross build and its tests under Wine (scripts/windows.sh)
set -euo pipefail

# The programs' build, and what they need to run: the window's Japanese font, and the PC/SC
# service with its CCID driver for PC/SC readers.
build=(
    g++ cmake ninja-build pkg-config
    # The manual pages' tool.
    scdoc
    nlohmann-json3-dev qt6-base-dev libnfc-dev libpcsclite-dev libusb-1.0-0-dev
)
programs=("${build[@]}" fonts-ipafont-gothic pcscd libccid)

case "${1:-}" in
--windows)
    packages=(
        cmake ninja-build
        # MinGW-w64 with POSIX threads (std::thread), and GoogleTest's sources to build for it.
        g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev binutils-mingw-w64-x86-64
        googletest nlohmann-json3-dev
        # Wine to run the programs and tests, its fonts and the X libraries its window needs.
        wine wine64 fonts-wine libxrender1 libxcursor1 libxi6 libxrandr2 libxinerama1
        libxcomposite1 libxfixes3 libxxf86vm1
        fonts-ipafont-gothic xvfb xdotool imagemagick
        # The installer and the zip.
        nsis zip
    )
    ;;
--demo)
    packages=("${programs[@]}")
    ;;
--deb)
    # dpkg-dev: dpkg-buildflags, dpkg-shlibdeps (with file) and dpkg-scanpackages; the window's
    # font, which the package virude depends on, for installing it in the test.
    packages=("${build[@]}" fonts-ipafont-gothic dpkg-dev file lintian appstream
        desktop-file-utils)
    ;;
"")
    packages=(
        "${programs[@]}"
        libgtest-dev libgmock-dev libbenchmark-dev
        # bash-completion for the completion's test.
        bash-completion
        xvfb xdotool imagemagick
        libnfc-bin
        vsmartcard-vpcd pcsc-tools
        umockdev libumockdev-dev
        clang libclang-rt-14-dev
    )
    ;;
*)
    echo "usage: scripts/install-deps.sh [--demo | --deb | --windows]" >&2
    exit 2
    ;;
esac

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done

if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}" >&2
    export DEBIAN_FRONTEND=noninteractive
    # Installing pcscd must not start it for the tests: they run their own pcscd in a private
    # namespace, and one on the host would hold the readers that libnfc wants. A demo keeps
    # Debian's default (the service starts when a program asks for it).
    if [[ -z "${1:-}" && ! -e /usr/sbin/policy-rc.d ]]; then
        printf '#!/bin/sh\nexit 101\n' >/usr/sbin/policy-rc.d
        chmod 755 /usr/sbin/policy-rc.d
        trap 'rm -f /usr/sbin/policy-rc.d' EXIT
    fi
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

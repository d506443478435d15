#!/usr/bin/env bash
# Installs the Debian packages the build, the tests, the benchmarks, the fuzzing harnesses
# (clang and its libFuzzer) and the window's screenshot need, when missing.  --windows: those
# of the Windows cross build and its tests under Wine instead.
set -euo pipefail

if [[ "${1:-}" == "--windows" ]]; then
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
else
    packages=(
        g++ cmake ninja-build pkg-config
        # The manual pages' tool, and bash-completion for the completion's test.
        scdoc bash-completion
        libgtest-dev libgmock-dev libbenchmark-dev
        nlohmann-json3-dev
        qt6-base-dev fonts-ipafont-gothic
        xvfb xdotool imagemagick
        libnfc-dev libnfc-bin
        pcscd libccid libpcsclite-dev vsmartcard-vpcd pcsc-tools
        libusb-1.0-0-dev umockdev libumockdev-dev
        clang libclang-rt-14-dev
    )
fi

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done

if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}" >&2
    export DEBIAN_FRONTEND=noninteractive
    # Installing pcscd must not start it: the PC/SC tests run their own pcscd in a private
    # namespace, and one on the host would hold the readers that libnfc wants.
    if [[ ! -e /usr/sbin/policy-rc.d ]]; then
        printf '#!/bin/sh\nexit 101\n' >/usr/sbin/policy-rc.d
        chmod 755 /usr/sbin/policy-rc.d
        trap 'rm -f /usr/sbin/policy-rc.d' EXIT
    fi
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

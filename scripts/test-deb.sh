#!/usr/bin/env bash
# Builds the Debian packages (scripts/deb.sh) and checks them:
# - lintian: no tag at any level, pedantic included, that is not overridden with its reason
#   (packaging/debian/*.lintian-overrides);
# - the desktop entry and the AppStream metadata, with their own validators;
# - installing the window's package alone with apt pulls in virude-dump; the installed
#   programs run and find the libnfc helper; removing and purging leaves no file behind.
# The packages install into /usr for a few seconds: the clean-up purges them on every exit.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deb.sh
debs=(build/deb/virude-dump_*.deb build/deb/virude_*.deb)
# Installing must not replace a Virude that someone installed on this machine.
for package in virude virude-dump; do
    if dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed"; then
        echo "test-deb.sh: $package is installed on this machine; remove it first" >&2
        exit 1
    fi
done

work="$(mktemp -d)"
# apt reads the repository below as its own unprivileged user.
chmod 755 "$work"
installed=false
cleanup() {
    if $installed; then
        dpkg --purge virude virude-dump >/dev/null 2>&1 || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

set +e
lintian --display-info --pedantic --display-experimental \
    --fail-on error,warning,info,pedantic,experimental "${debs[@]}" >"$work/lintian" 2>&1
lintian_code=$?
set -e
grep -v "^running with root privileges" "$work/lintian" || true
if ((lintian_code != 0)); then
    echo "test-deb.sh: lintian reports the tags above (exit $lintian_code)" >&2
    exit 1
fi
echo "lintian: no error, warning, info or pedantic tag on ${debs[*]}"

dpkg-deb -x build/deb/virude_*.deb "$work/virude"
desktop-file-validate "$work/virude/usr/share/applications/virude.desktop"
appstreamcli validate --pedantic --no-net --no-color \
    "$work"/virude/usr/share/metainfo/*.metainfo.xml
echo "desktop-file-validate and appstreamcli validate: no complaint"

# A repository of the two packages alone, for apt with its own lists and no cache, so that
# this machine's apt lists stay as they are. What virude's package needs beyond virude-dump
# (Qt, the font) the project's set-up has installed already.
mkdir -p "$work/repository" "$work/lists/partial" "$work/sources.list.d"
cp "${debs[@]}" "$work/repository/"
(cd "$work/repository" && dpkg-scanpackages . /dev/null >Packages 2>/dev/null)
echo "deb [trusted=yes] file:$work/repository ./" >"$work/sources.list"
apt=(apt-get -qq -o Dir::Etc::SourceList="$work/sources.list" -o Dir::Etc::SourceParts="$work/sources.list.d"
    -o Dir::State::Lists="$work/lists" -o Dir::Cache::pkgcache= -o Dir::Cache::srcpkgcache=
    -o DPkg::Lock::Timeout=300)
"${apt[@]}" update
export DEBIAN_FRONTEND=noninteractive
installed=true
if ! "${apt[@]}" install -y --no-install-recommends virude >"$work/install.log" 2>&1; then
    cat "$work/install.log" >&2
    exit 1
fi
version="$(dpkg-deb -f build/deb/virude_*.deb Version)"
for package in virude virude-dump; do
    if [[ "$(dpkg-query -W -f='${Status} ${Version}' "$package")" != "install ok installed $version" ]]; then
        echo "test-deb.sh: installing virude did not install $package $version" >&2
        exit 1
    fi
done
echo "apt-get install virude: virude and virude-dump $version installed"

# The files the packages put in place, the udev rule among them.
dpkg-query -L virude virude-dump | sort -u >"$work/all"
while read -r path; do [[ -d "$path" ]] || echo "$path"; done <"$work/all" >"$work/files"
grep -qx /usr/lib/udev/rules.d/60-virude-rcs380.rules "$work/files"

# The installed programs run: the dump of the demo card, the window (without a display, on
# Qt's offscreen platform) until it is stopped, and libnfc through the installed helper.
VIRUDE_READER=sim virude-dump >"$work/installed.out"
VIRUDE_READER=sim build/deb/app/virude-dump | cmp - "$work/installed.out"
set +e
VIRUDE_READER=sim QT_QPA_PLATFORM=offscreen timeout 2 virude >"$work/virude.log" 2>&1
window_code=$?
VIRUDE_READER=libnfc virude-dump --trace >"$work/libnfc.out" 2>&1
set -e
if ((window_code != 124)); then
    echo "test-deb.sh: the installed virude ended by itself (exit $window_code):" >&2
    cat "$work/virude.log" >&2
    exit 1
fi
if ! grep -q libnfc "$work/libnfc.out" || grep -q "helper.*not found" "$work/libnfc.out"; then
    echo "test-deb.sh: the installed virude-dump did not start the libnfc helper:" >&2
    cat "$work/libnfc.out" >&2
    exit 1
fi
echo "installed: virude-dump reads the demo card, virude starts, the libnfc helper is found"

# Removing takes every file away (the packages have no configuration files); purging leaves
# dpkg nothing to remember.
"${apt[@]}" remove -y virude-dump >"$work/remove.log" 2>&1 || {
    cat "$work/remove.log" >&2
    exit 1
}
for package in virude virude-dump; do
    if dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed"; then
        echo "test-deb.sh: removing virude-dump left $package installed" >&2
        exit 1
    fi
done
left="$(while read -r path; do if [[ -e "$path" ]]; then echo "$path"; fi; done <"$work/files")"
if [[ -n "$left" ]]; then
    echo "test-deb.sh: removing the packages left files behind:" >&2
    echo "$left" >&2
    exit 1
fi
dpkg --purge virude virude-dump >"$work/purge.log" 2>&1
installed=false
for package in virude virude-dump; do
    if dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -qv "not-installed"; then
        echo "test-deb.sh: purging left $package in dpkg's records" >&2
        exit 1
    fi
done
for folder in /usr/libexec/virude /usr/share/doc/virude /usr/share/doc/virude-dump; do
    if [[ -e "$folder" ]]; then
        echo "test-deb.sh: purging left $folder behind" >&2
        exit 1
    fi
done
echo "apt-get remove virude-dump: removes virude too, no file left; dpkg --purge: nothing left"

#!/usr/bin/env bash
# Checks the Debian package that scripts/package.sh made: unpacks it into a scratch folder
# and looks at every file it holds and at what it depends on.
# Usage: check-package.sh [PACKAGE.deb]   (default: the one in build/release)
set -euo pipefail
deb=""
if [ $# -ge 1 ]; then
    deb=$(readlink -f "$1")
fi
cd "$(dirname "$0")/.."

if [ -z "$deb" ]; then
    shopt -s nullglob
    debs=(build/release/varnolt_*.deb)
    if [ "${#debs[@]}" -ne 1 ]; then
        echo "check-package: expected one build/release/varnolt_*.deb, found ${#debs[@]}" >&2
        exit 1
    fi
    deb=${debs[0]}
fi

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"

checks=0
failures=0
check() {
    local what=$1
    shift
    checks=$((checks + 1))
    if ! "$@" >/dev/null 2>&1; then
        echo "check-package: FAILED: $what" >&2
        failures=$((failures + 1))
    fi
}

# Exactly these files and links, nothing more: a test program or a library that slipped into
# the install rules shows up here.
expected=$(cat <<'LIST'
usr/bin/Varnolt
usr/bin/lumetra-rm
usr/bin/scopesim
usr/bin/varnolt-record
usr/lib/systemd/user/varnolt-record@.service
usr/lib/varnolt/Varnolt
usr/lib/varnolt/readme.mht
usr/share/applications/varnolt.desktop
usr/share/bash-completion/completions/lumetra-rm
usr/share/bash-completion/completions/varnolt-record
usr/share/doc/varnolt/changelog.gz
usr/share/doc/varnolt/copyright
usr/share/icons/hicolor/scalable/apps/varnolt.svg
usr/share/man/man1/Varnolt.1.gz
usr/share/man/man1/lumetra-rm.1.gz
usr/share/man/man1/scopesim.1.gz
usr/share/man/man1/varnolt-record.1.gz
LIST
)
actual=$(cd "$root" && find . \( -type f -o -type l \) | sed 's|^\./||' | LC_ALL=C sort)
check "the package holds exactly the expected files" test "$actual" = "$expected"
if [ "$actual" != "$expected" ]; then
    diff <(echo "$expected") <(echo "$actual") >&2 || true
fi

check "bin/Varnolt links to the program beside its help file" \
    test "$(readlink "$root/usr/bin/Varnolt")" = "../lib/varnolt/Varnolt"
check "the program is executable" test -x "$root/usr/lib/varnolt/Varnolt"
check "lumetra-rm is executable" test -x "$root/usr/bin/lumetra-rm"
check "scopesim is executable" test -x "$root/usr/bin/scopesim"
check "readme.mht is an MHTML document" \
    grep -q '^Content-Type: multipart/related;' "$root/usr/lib/varnolt/readme.mht"
check "readme.mht holds the pictures of the windows" \
    test "$(grep -c '^Content-Type: image/png' "$root/usr/lib/varnolt/readme.mht")" -eq 3
check "the icon is an SVG picture" grep -q '<svg' \
    "$root/usr/share/icons/hicolor/scalable/apps/varnolt.svg"
check "the desktop entry starts Varnolt" grep -qx 'Exec=Varnolt' \
    "$root/usr/share/applications/varnolt.desktop"
check "the desktop entry names the icon" grep -qx 'Icon=varnolt' \
    "$root/usr/share/applications/varnolt.desktop"
if command -v desktop-file-validate >/dev/null; then
    check "the desktop entry is valid" \
        desktop-file-validate "$root/usr/share/applications/varnolt.desktop"
fi
check "the unpacked lumetra-rm runs" "$root/usr/bin/lumetra-rm" help
check "the unpacked scopesim runs" "$root/usr/bin/scopesim" --help
check "the unpacked varnolt-record runs" "$root/usr/bin/varnolt-record" --version
check "the unpacked program answers --help without a display" \
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$root/usr/lib/varnolt/Varnolt" --help
for page in Varnolt varnolt-record lumetra-rm scopesim; do
    check "the manual page of $page names it" \
        sh -c "zcat '$root/usr/share/man/man1/$page.1.gz' | grep -qiF '.TH $page '"
done
check "the recorder's manual page lists its options" \
    sh -c "zcat '$root/usr/share/man/man1/varnolt-record.1.gz' | grep -qF 'no\\-limit'"
check "the service template starts the recorder for its instance" \
    grep -qx 'ExecStart=varnolt-record --no-limit --resource %I $VARNOLT_RECORD_OPTIONS' \
    "$root/usr/lib/systemd/user/varnolt-record@.service"
check "the completions are bash" bash -n "$root/usr/share/bash-completion/completions/lumetra-rm"
check "the completions are bash" bash -n \
    "$root/usr/share/bash-completion/completions/varnolt-record"

info=$(dpkg-deb -I "$deb")
field() { dpkg-deb -f "$deb" "$1"; }
check "the package is called varnolt" test "$(field Package)" = varnolt
check "the version is the project's" grep -q '^project(Varnolt VERSION '"$(field Version)"' ' \
    CMakeLists.txt
check "the maintainer is named with an address" \
    test "$(field Maintainer)" = "Varnolt developers <varnolt-devel@lists.example.org>"
check "the section is electronics" test "$(field Section)" = electronics
# Package names alone, one a line, without versions.
depends=$(field Depends | tr ',' '\n' | awk '{print $1}')
for package in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 qt6-qpa-plugins \
    qt6-image-formats-plugins libqt6svg6; do
    check "it depends on $package" grep -qxF "$package" <<<"$depends"
done
check "dpkg-deb -I shows the depends" grep -q "^ Depends: .*libqt6widgets6" <<<"$info"

# Debian's own checks: any error or warning fails the package; lintian prints what it found.
checks=$((checks + 1))
if ! lintian --fail-on error,warning --tag-display-limit 0 "$deb" >&2; then
    echo "check-package: FAILED: lintian reports errors or warnings" >&2
    failures=$((failures + 1))
fi

if [ "$failures" -ne 0 ]; then
    echo "check-package: $failures of $checks checks failed for $deb" >&2
    exit 1
fi
echo "check-package: $deb is good ($checks checks)"

#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# The Debian package of the built program: its files, its control fields
# (Depends found by dpkg-shlibdeps, the font recommended, no maintainer
# scripts), and its program started from a scratch root.
#   check_package.sh BUILD_DIR EXPECTED_FILES
set -eu
build=$1
expected=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# gzip instead of xz only to keep the test short; the contents are the same.
if ! cpack -G DEB -D CPACK_DEBIAN_COMPRESSION_TYPE=gzip --config "$build/CPackConfig.cmake" -B "$work/out" \
    >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log" >&2
    exit 1
fi
deb=$work/out/webloom_3.00_amd64.deb
[ -f "$deb" ] || { echo "check_package: no $deb" >&2; ls "$work/out" >&2; exit 1; }

dpkg-deb -c "$deb" | awk '{ print $NF }' | grep -v '/$' | sed 's|^\./usr/||' | LC_ALL=C sort >"$work/found"
if ! LC_ALL=C sort "$expected" | diff -u - "$work/found"; then
    echo "check_package: the package's files differ from $expected (- missing, + unexpected)" >&2
    exit 1
fi

fail() {
    echo "check_package: $*" >&2
    dpkg-deb -I "$deb" >&2
    exit 1
}
depends=$(dpkg-deb -f "$deb" Depends)
for library in libc6 libqt6core6 libqt6gui6 libqt6widgets6 libcurl4 libstdc++6 libqt6keychain1 libsecret-1-0; do
    case ", $depends," in
    *", $library "* | *", $library,"*) ;;
    *) fail "Depends lacks $library" ;;
    esac
done
[ "$(dpkg-deb -f "$deb" Recommends)" = fonts-noto-cjk ] || fail "Recommends is not fonts-noto-cjk"
[ "$(dpkg-deb -f "$deb" Version)" = 3.00 ] || fail "Version is not 3.00"
[ -n "$(dpkg-deb -f "$deb" Maintainer)" ] || fail "no Maintainer"
dpkg-deb -e "$deb" "$work/control"
scripts=$(cd "$work/control" && ls | grep -v -x -e control -e md5sums || true)
[ -z "$scripts" ] || fail "unexpected control files: $scripts"

dpkg-deb -x "$deb" "$work/root"
version=$(env -u DISPLAY -u WAYLAND_DISPLAY ASAN_OPTIONS=detect_leaks=0 "$work/root/usr/bin/webloom" --version)
[ "$version" = "webloom 3.00" ] || fail "the packaged program says \"$version\""
echo "check_package: $(wc -l <"$work/found") files, Depends: $depends"

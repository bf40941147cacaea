#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# "make install" into a scratch folder: exactly the expected files, the icon
# in every size it claims, an AppStream tree whose metadata, menu entry and
# icon agree, and a program that starts from there.
#   check_install.sh BUILD_DIR EXPECTED_FILES
set -eu
build=$1
expected=$2
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT

DESTDIR=$root cmake --install "$build" --prefix /usr >/dev/null
(cd "$root/usr" && find . -type f | sed 's|^\./||' | LC_ALL=C sort) >"$root/found"
if ! LC_ALL=C sort "$expected" | diff -u - "$root/found"; then
    echo "check_install: the install tree differs from $expected (- missing, + unexpected)" >&2
    exit 1
fi

# A PNG in the folder of one size but drawn at another is scaled by the desktop.
for png in "$root"/usr/share/icons/hicolor/*/apps/*.png; do
    size=$(basename "$(dirname "$(dirname "$png")")")
    drawn=$(file -b "$png" | sed -n 's/^PNG image data, \([0-9]*\) x \([0-9]*\),.*/\1x\2/p')
    if [ "$drawn" != "$size" ]; then
        echo "check_install: $png is $drawn, not $size" >&2
        exit 1
    fi
done

appstreamcli validate-tree --no-net "$root"

version=$(ASAN_OPTIONS=detect_leaks=0 "$root/usr/bin/webloom" --version)
if [ "$version" != "webloom 3.00" ]; then
    echo "check_install: the installed program says \"$version\"" >&2
    exit 1
fi
echo "check_install: $(wc -l <"$root/found") files installed and valid"

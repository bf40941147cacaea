#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Every C++ file under src/, tests/ and bench/ must read as the project's
# .clang-format writes it. The files are found on disk, not through git, so
# the check also runs in an unpacked source tarball.
#   check_format.sh CLANG_FORMAT SOURCE_DIR
set -eu
clang_format=$1
root=$2
if ! command -v "$clang_format" >/dev/null 2>&1; then
    echo "check_format: clang-format not found; scripts/install-deps installs it" >&2
    exit 1
fi
cd "$root"
count=$(find src tests bench -path tests/data -prune -o -type f \( -name '*.cpp' -o -name '*.h' \) -print | wc -l)
if [ "$count" -eq 0 ]; then
    echo "check_format: no C++ files under $root" >&2
    exit 1
fi
# find exits non-zero when a clang-format run did; every offending line is
# printed before that.
find src tests bench -path tests/data -prune -o -type f \( -name '*.cpp' -o -name '*.h' \) \
    -exec "$clang_format" --style=file --dry-run -Werror {} +
echo "check_format: $count files formatted"

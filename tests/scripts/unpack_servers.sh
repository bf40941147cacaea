#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Unpacks the FTP servers the interoperability tests start into DEST, without
# installing them: Debian's pure-ftpd and proftpd conflict with the vsftpd the
# other tests use (each is an "ftp-server"). Their libraries are installed by
# scripts/install-deps. Idempotent and safe to run from several tests at once.
#   tests/scripts/unpack_servers.sh DEST
set -euo pipefail

dest=${1:?usage: unpack_servers.sh DEST}
mkdir -p "$dest"
exec 9>"$dest/.lock"
flock 9

[ -f "$dest/.unpacked" ] && exit 0

packages=(pure-ftpd proftpd-core proftpd-mod-crypto)
download=$(mktemp -d)
trap 'rm -rf "$download"' EXIT
# apt's sandbox user cannot write into a private temporary folder.
chmod 755 "$download"
(cd "$download" && apt-get download -q "${packages[@]}" >/dev/null 2>&1) || {
  echo "unpack_servers: apt-get download ${packages[*]} failed" >&2
  exit 1
}
for deb in "$download"/*.deb; do
  dpkg -x "$deb" "$dest/root"
done
touch "$dest/.unpacked"

#!/usr/bin/env bash
# Installs what building quorvil needs and a fresh machine may lack: the
# compiler and build tools, and the decompression libraries the log reader
# links (zlib, libzstd, liblzma, libbz2) with pkg-config to find them, and
# SQLite and OpenSSL's libcrypto, which quorvil-folder loads and hashes with.  Run
# as root it installs the missing Debian packages; anyone else is told what
# to install.  Nothing is done when everything is there.  Further Debian
# packages given as arguments are installed with them (tests/run_all.sh
# passes the tools its suite drives).
#
#   bash tools/build_deps.sh [PACKAGE...]
set -euo pipefail

missing=("$@")
for pair in cmake:cmake ninja:ninja-build g++:g++ pkg-config:pkg-config; do
    command -v "${pair%%:*}" >/dev/null 2>&1 || missing+=("${pair##*:}")
done
for pair in zlib.h:zlib1g-dev zstd.h:libzstd-dev lzma.h:liblzma-dev bzlib.h:libbz2-dev \
            sqlite3.h:libsqlite3-dev openssl/evp.h:libssl-dev; do
    [ -f "/usr/include/${pair%%:*}" ] || missing+=("${pair##*:}")
done
[ ${#missing[@]} -eq 0 ] && exit 0
if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null; then
    echo "build_deps.sh: installing ${missing[*]}" >&2
    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
else
    echo "build_deps.sh: please install these Debian packages first: ${missing[*]}" >&2
    exit 1
fi

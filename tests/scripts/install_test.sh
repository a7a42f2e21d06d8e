#!/usr/bin/env bash
# Installs the build tree into a scratch prefix and makes the Debian package,
# then checks that what lands on a user's machine works: quorvil,
# quorvil-info and quorvil-decode, their usage texts, a real run of each, their gzip-compressed
# manual pages, the package's copyright file and its versioned library
# dependencies.  Last, a tree configured without GoogleTest still
# configures, leaving the tests out.
#
# usage: install_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail

fail() {
    echo "install_test: FAIL: $*" >&2
    exit 1
}

[ $# -eq 2 ] || { echo "usage: $0 BUILD_DIR SOURCE_DIR" >&2; exit 2; }
build=$(cd "$1" && pwd)
source_dir=$(cd "$2" && pwd)
log="$source_dir/samples/sample.log"
header='SCN,XIDUSN,XIDSLT,XIDSQN,DATA_OBJ#,DATA_OBJD#,TABLE_NAME,OPERATION,SQL_REDO'

for tool in cmake cpack dpkg-deb dpkg-shlibdeps man groff gzip ninja; do
    command -v "$tool" >/dev/null || fail "'$tool' is not installed (needed to check installing and packaging)"
done
[ -f "$log" ] || fail "sample log $log is missing"
[ -x "$build/quorvil" ] || fail "$build/quorvil is not built"

work=$(mktemp -d "${TMPDIR:-/tmp}/quorvil-install.XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"

# --- cmake --install ---------------------------------------------------------
cmake --install "$build" --prefix "$prefix" >"$work/install.out" 2>&1 ||
    { cat "$work/install.out" >&2; fail "cmake --install $build failed"; }

bin="$prefix/bin/quorvil"
page="$prefix/share/man/man1/quorvil.1.gz"
[ -f "$bin" ] || fail "installed program $bin is missing"
[ -x "$bin" ] || fail "installed program $bin is not executable"
[ -f "$page" ] || fail "installed manual page $page is missing"

# -h: usage on standard error, nothing on standard output, status 255.
set +e
"$bin" -h >"$work/h.out" 2>"$work/h.err"
status=$?
set -e
[ "$status" -eq 255 ] || fail "'quorvil -h' exited with $status, expected 255"
[ ! -s "$work/h.out" ] || fail "'quorvil -h' wrote to standard output"
grep -qxF "usage: $bin [options]" "$work/h.err" ||
    fail "'quorvil -h' did not print 'usage: $bin [options]' on standard error"
for opt in -h -start_scn -end_scn -log -out; do
    grep -q -- "^  $opt " "$work/h.err" || fail "usage text has no line for $opt"
done

# A real run of the installed program on the sample log, from a scratch
# directory so that the default output name is used.
mkdir "$work/run"
set +e
(cd "$work/run" && "$bin" -log "$log") >"$work/run.out" 2>"$work/run.err"
status=$?
set -e
[ "$status" -eq 0 ] || { cat "$work/run.err" >&2; fail "installed quorvil on $log exited with $status"; }
[ "$(tail -n 1 "$work/run.err")" = "quorvil end." ] ||
    { cat "$work/run.err" >&2; fail "installed quorvil did not end with 'quorvil end.'"; }
csv="$work/run/log_contents.csv"
[ -f "$csv" ] || fail "no log_contents.csv written by default"
[ "$(head -n 1 "$csv")" = "$header" ] || fail "first line of the CSV is '$(head -n 1 "$csv")', expected '$header'"
[ "$(wc -l <"$csv")" -gt 1 ] || fail "the CSV of $log holds no line after the header"

# The installed program writes exactly what the program in the build tree writes.
"$build/quorvil" -log "$log" -out "$work/build.csv" 2>/dev/null ||
    fail "$build/quorvil on $log failed"
cmp -s "$csv" "$work/build.csv" || fail "installed and built quorvil write different CSV for $log"

# check_page PAGE.gz SOURCE SECTION...: the installed page is what gzip -9n
# makes of the source (no name or time in the header, so the same page gives
# the same file), with nothing uncompressed beside it; man renders both alike,
# without warnings, with the sections; groff warns of nothing in the source.
check_page() {
    local gz=$1 src=$2 p section
    [ ! -e "${gz%.gz}" ] || fail "an uncompressed ${gz%.gz} is installed beside $gz"
    gzip -9n -c "$src" | cmp -s - "$gz" || fail "installed $gz is missing or not what gzip -9n makes of $src"
    for p in "$gz" "$src"; do
        MANWIDTH=80 MANPAGER=cat man -l "$p" >"$work/${p##*/}.txt" 2>"$work/man.err" && [ ! -s "$work/man.err" ] ||
            { cat "$work/man.err" >&2; fail "man -l $p failed or printed warnings"; }
    done
    cmp -s "$work/${gz##*/}.txt" "$work/${src##*/}.txt" || fail "man -l renders $gz and $src differently"
    for section in "${@:3}"; do grep -q "^$section\$" "$work/${gz##*/}.txt" || fail "rendered $gz has no $section section"; done
    groff -man -Tutf8 -ww -z "$src" 2>"$work/groff.err" && [ ! -s "$work/groff.err" ] ||
        { cat "$work/groff.err" >&2; fail "groff failed on or warns about $src"; }
}
check_page "$page" "$source_dir/quorvil.1" NAME SYNOPSIS DESCRIPTION OPTIONS OUTPUT "EXIT STATUS" "DAMAGED INPUT" EXAMPLES "SEE ALSO"
grep -qF "$header" "$work/quorvil.1.gz.txt" || fail "rendered manual page $page does not show the CSV header line"

# --- quorvil-info, installed beside quorvil ------------------------------------
info="$prefix/bin/quorvil-info"
[ -x "$info" ] || fail "installed program $info is missing or not executable"
"$info" -h >/dev/null 2>"$work/ih.err" || fail "'quorvil-info -h' exited with $?, expected 0"
grep -qxF "usage: $info [-csv] LOG..." "$work/ih.err" || fail "'quorvil-info -h' printed no usage line"
# the sample log is intact: a verdict line saying so, status 0
"$info" "$log" >"$work/info.out" 2>"$work/info.err" ||
    { cat "$work/info.out" "$work/info.err" >&2; fail "installed quorvil-info on $log failed"; }
grep -qE '^  verdict: +intact$' "$work/info.out" || { cat "$work/info.out" >&2; fail "quorvil-info does not call $log intact"; }
check_page "$prefix/share/man/man1/quorvil-info.1.gz" "$source_dir/info/quorvil-info.1" \
    NAME SYNOPSIS DESCRIPTION "THE REPORT" "BLOCK CLASSES" "CSV COLUMNS" "EXIT STATUS" EXAMPLES

# --- quorvil-decode, installed beside quorvil -----------------------------------
decode="$prefix/bin/quorvil-decode"
[ -x "$decode" ] || fail "installed program $decode is missing or not executable"
"$decode" -h >/dev/null 2>"$work/dh.err" || fail "'quorvil-decode -h' exited with $?, expected 0"
grep -qxF "usage: $decode -dict COLUMNS.csv [-nls PARAMETERS.csv] [-in CSV] [-out CSV]" "$work/dh.err" ||
    fail "'quorvil-decode -h' printed no usage line"
# the sample's CSV through the pipe, with the sample's dictionary: names and an SQL_UNDO column
"$bin" -log "$log" -out /dev/stdout 2>/dev/null | "$decode" -dict "$source_dir/samples/sample_dict.csv" \
    >"$work/decoded.csv" 2>"$work/decode.err" || { cat "$work/decode.err" >&2; fail "installed quorvil-decode failed"; }
[ "$(head -n 1 "$work/decoded.csv")" = "$header,SQL_UNDO" ] || fail "quorvil-decode wrote no SQL_UNDO header"
grep -qF 'HR.ORDER_LINES,DELETE,"delete from ""HR"".""ORDER_LINES""' "$work/decoded.csv" ||
    { cat "$work/decoded.csv" >&2; fail "quorvil-decode did not name the sample's table"; }
check_page "$prefix/share/man/man1/quorvil-decode.1.gz" "$source_dir/decode/quorvil-decode.1" \
    NAME SYNOPSIS DESCRIPTION OPTIONS "DICTIONARY FILES" OUTPUT "EXIT STATUS" EXAMPLES LIMITS

# --- quorvil-folder, installed beside quorvil: it mines with that quorvil -------
folder="$prefix/bin/quorvil-folder"
mkdir "$work/arch" && cp "$log" "$work/arch/1_1.arc"
PATH=/nonexistent "$folder" -out "$work/redo.db" "$work/arch" >"$work/folder.out" 2>&1 ||
    { cat "$work/folder.out" >&2; fail "installed quorvil-folder failed on the sample log"; }
[ "$(sqlite3 "$work/redo.db" 'SELECT lines FROM logs')" = "$(($(wc -l <"$source_dir/samples/sample.csv") - 1))" ] ||
    fail "installed quorvil-folder did not load the sample's lines"
check_page "$prefix/share/man/man1/quorvil-folder.1.gz" "$source_dir/folder/quorvil-folder.1" \
    NAME SYNOPSIS DESCRIPTION OPTIONS "THE DATABASE" OUTPUT "EXIT STATUS"

# --- cpack -G DEB ------------------------------------------------------------
pkgdir="$work/pkg"
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$pkgdir" >"$work/cpack.out" 2>&1 ||
    { cat "$work/cpack.out" >&2; fail "cpack -G DEB failed"; }
shopt -s nullglob
debs=("$pkgdir"/*.deb)
shopt -u nullglob
[ "${#debs[@]}" -eq 1 ] || fail "expected one .deb in $pkgdir, found ${#debs[@]}"
deb=${debs[0]}

dpkg-deb -c "$deb" >"$work/contents" || fail "dpkg-deb -c $deb failed"
# the file name is the last field of each line
awk '{print $NF}' "$work/contents" >"$work/paths"
grep -qx './usr/bin/quorvil' "$work/paths" || { cat "$work/contents" >&2; fail "package holds no ./usr/bin/quorvil"; }
for p in ./usr/share/man/man1/quorvil.1.gz ./usr/share/man/man1/quorvil-info.1.gz \
    ./usr/share/man/man1/quorvil-decode.1.gz; do
    grep -qx "$p" "$work/paths" || { cat "$work/contents" >&2; fail "package holds no $p"; }
done
! grep -qx './usr/share/man/man1/quorvil.1' "$work/paths" || fail "package holds an uncompressed ./usr/share/man/man1/quorvil.1"
awk '$NF == "./usr/bin/quorvil" && $1 == "-rwxr-xr-x" { found = 1 } END { exit !found }' "$work/contents" ||
    fail "./usr/bin/quorvil in the package is not mode 755"
for p in ./usr/bin/quorvil-info ./usr/bin/quorvil-decode ./usr/bin/quorvil-folder; do
    awk -v p="$p" '$NF == p && $1 == "-rwxr-xr-x" { found = 1 } END { exit !found }' "$work/contents" ||
        { cat "$work/contents" >&2; fail "package holds no $p of mode 755"; }
done

dpkg-deb -I "$deb" >"$work/info" || fail "dpkg-deb -I $deb failed"
grep -qE '^ *Package: quorvil$' "$work/info" || { cat "$work/info" >&2; fail "package control has no 'Package: quorvil'"; }
# the package's version is the one the programs name
version=$("$info" --version) || fail "'quorvil-info --version' exited with $?"
grep -qxE " *Version: ${version#quorvil-info }" "$work/info" ||
    { cat "$work/info" >&2; fail "package Version is not the programs' version (${version#quorvil-info })"; }
grep -qE '^ *Section: utils$' "$work/info" || { cat "$work/info" >&2; fail "package control has no 'Section: utils'"; }
grep -qE '^ *Maintainer: The quorvil developers <dev@quorvil\.invalid>$' "$work/info" ||
    { cat "$work/info" >&2; fail "package control has the wrong Maintainer"; }
# Depends comes from dpkg-shlibdeps: the libraries with the least versions needed
for lib in 'libc6' 'libstdc\+\+6'; do
    grep -qE "^ *Depends: (.*, )?$lib \(>= [0-9][^)]*\)(,|\$)" "$work/info" ||
        { cat "$work/info" >&2; fail "package Depends holds no versioned entry for ${lib//\\/}"; }
done

# What the package unpacks to runs.
dpkg-deb -x "$deb" "$work/root" || fail "dpkg-deb -x $deb failed"
set +e
"$work/root/usr/bin/quorvil" -h >/dev/null 2>"$work/deb-h.err"
status=$?
set -e
[ "$status" -eq 255 ] || fail "quorvil from the package answers -h with status $status, expected 255"
grep -q '^usage: ' "$work/deb-h.err" || fail "quorvil from the package prints no usage text for -h"
"$work/root/usr/bin/quorvil-info" "$log" >/dev/null 2>&1 || fail "quorvil-info from the package fails on $log"
"$work/root/usr/bin/quorvil-decode" -dict "$source_dir/samples/sample_dict.csv" -in "$source_dir/samples/sample.csv" \
    -out /dev/null 2>/dev/null || fail "quorvil-decode from the package fails on the sample's CSV"
head -n 1 "$work/root/usr/share/doc/quorvil/copyright" 2>/dev/null |
    grep -qxF 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' ||
    fail "the package holds no machine-readable /usr/share/doc/quorvil/copyright"
gzip -dc "$work/root/usr/share/man/man1/quorvil.1.gz" | cmp -s - "$source_dir/quorvil.1" ||
    fail "the package's quorvil.1.gz does not unpack to the source quorvil.1"

# --- configure without GoogleTest, as the README's installing steps may -------
cmake -S "$source_dir" -B "$work/no-gtest" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON \
    >"$work/no-gtest.out" 2>&1 && grep -q 'GoogleTest not found: the tests are left out' "$work/no-gtest.out" ||
    { cat "$work/no-gtest.out" >&2; fail "configuring without GoogleTest failed or did not say the tests are left out"; }
[ ! -e "$work/no-gtest/tests" ] || fail "configuring without GoogleTest still set up tests/"

echo "install_test: ok ($(basename "$deb"))"

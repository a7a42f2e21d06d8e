# loading_csv.sh - sourced by the scripts that load the CSV of the log that
# qv_loading_log writes (usage: SCRIPT BUILD_DIR LOG_WRITER).  Defines fail,
# makes $work (removed at exit) and leaves quorvil's CSV of the log in $csv.
name=$(basename "$0" .sh)
fail() { echo "$name: FAIL: $*" >&2; exit 1; }
[ $# -eq 2 ] || { echo "usage: $0 BUILD_DIR LOG_WRITER" >&2; exit 2; }
python=/usr/bin/python3  # Debian's, which python3-pandas belongs to
work=$(mktemp -d "${TMPDIR:-/tmp}/quorvil-$name.XXXXXX")
trap 'rm -rf "$work"' EXIT
csv="$work/redo.csv"
"$2" "$work/loading.log" || fail "$2 could not write the log"
"$1/quorvil" -log "$work/loading.log" -out "$csv" 2>"$work/quorvil.err" ||
    { cat "$work/quorvil.err" >&2; fail "$1/quorvil on the log of $2 failed"; }

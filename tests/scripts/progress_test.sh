#!/usr/bin/env bash
# The progress line: shown, updated in place and cleared when standard error
# is a terminal and the log is large; absent when standard error is a file.
#
# usage: progress_test.sh BUILD_DIR
set -euo pipefail

fail() {
    echo "progress_test: FAIL: $*" >&2
    exit 1
}

[ $# -eq 1 ] || { echo "usage: $0 BUILD_DIR" >&2; exit 2; }
build=$(cd "$1" && pwd)
quorvil="$build/quorvil"
qvgen="$build/tools/qvgen"
size_mb=24    # well above the 8 MiB from which progress is shown

for tool in script python3; do
    command -v "$tool" >/dev/null || fail "'$tool' is not installed (needed to run quorvil on a terminal)"
done
[ -x "$quorvil" ] || fail "$quorvil is not built"
[ -x "$qvgen" ] || fail "log generator $qvgen is not built"

work=$(mktemp -d "${TMPDIR:-/tmp}/quorvil-progress.XXXXXX")
trap 'rm -rf "$work"' EXIT
log="$work/big.log"

"$qvgen" --bench "$size_mb" "$log" >"$work/qvgen.out" 2>&1 ||
    { cat "$work/qvgen.out" >&2; fail "qvgen --bench $size_mb $log failed"; }
[ "$(stat -c %s "$log")" -ge $((8 * 1024 * 1024)) ] ||
    fail "qvgen wrote $(stat -c %s "$log") bytes, less than the 8 MiB that progress needs"

# --- standard error on a terminal --------------------------------------------
# script(1) gives the command a pseudo-terminal for standard input, output and
# error and copies everything the command writes to its own standard output.
cmd=$(printf '%q ' "$quorvil" -log "$log" -out "$work/tty.csv")
set +e
script -qec "$cmd" /dev/null </dev/null >"$work/tty.raw" 2>"$work/script.err"
status=$?
set -e
[ "$status" -eq 0 ] || { cat "$work/tty.raw" "$work/script.err" >&2; fail "quorvil on a terminal exited with $status"; }

# Checks the terminal transcript: a progress fragment "\r<digits>%" is there,
# and replaying the carriage returns and erase-to-end-of-line sequences the
# way a terminal does leaves "quorvil end." alone on the last line, so the
# progress line was cleared before the closing line was written.
python3 - "$work/tty.raw" "$log" <<'EOF' || fail "terminal output is not as expected (transcript above)"
import re, sys

raw = open(sys.argv[1], 'rb').read().decode('utf-8', 'replace')
logname = sys.argv[2]
# the terminal turns each "\n" into "\r\n"; undo that
text = raw.replace('\r\n', '\n')

def show(msg):
    print('progress_test: ' + msg, file=sys.stderr)
    print('transcript: ' + repr(text[-600:]), file=sys.stderr)
    sys.exit(1)

frags = re.findall(r'\r(?:\x1b\[K)?\s*(\d{1,3})% of ([^\r\n]*)', text)
if not frags:
    show('no progress fragment "\\r<percent>% of ..." on the terminal')
for pct, rest in frags:
    if int(pct) > 100:
        show('progress of %s%%' % pct)
    if logname not in rest and logname.rsplit('/', 1)[-1] not in rest:
        show('progress fragment does not name the log: %r' % rest)
if not re.search(r'MB/s', text):
    show('progress line shows no MB/s rate')
pcts = [int(p) for p, _ in frags]
if pcts != sorted(pcts):
    show('progress goes backwards: %r' % pcts)

def render(line):
    """What a terminal shows for one line holding \\r and ESC[K."""
    cells, col, i = [], 0, 0
    while i < len(line):
        if line[i] == '\r':
            col = 0
            i += 1
        elif line.startswith('\x1b[K', i):
            del cells[col:]
            i += 3
        else:
            if col < len(cells):
                cells[col] = line[i]
            else:
                cells.extend(' ' * (col - len(cells)))
                cells.append(line[i])
            col += 1
            i += 1
    return ''.join(cells).rstrip(' ')

lines = text.split('\n')
while lines and lines[-1] == '':
    lines.pop()
if not lines:
    show('nothing on the terminal')
last = render(lines[-1])
if last != 'quorvil end.':
    show('last line on the terminal reads %r, expected %r' % (last, 'quorvil end.'))
# no progress text is left over on any line the terminal keeps
for line in lines:
    shown = render(line)
    if re.search(r'\d% of ', shown):
        show('line %r still shows progress' % shown)
EOF

# --- standard error to a file ----------------------------------------------------
set +e
"$quorvil" -log "$log" -out "$work/file.csv" </dev/null >"$work/file.out" 2>"$work/file.err"
status=$?
set -e
[ "$status" -eq 0 ] || { cat "$work/file.err" >&2; fail "quorvil with standard error to a file exited with $status"; }
if grep -q '%' "$work/file.err"; then
    cat -A "$work/file.err" >&2
    fail "a '%' was written to standard error although it is not a terminal"
fi
if grep -q $'\r' "$work/file.err"; then
    cat -A "$work/file.err" >&2
    fail "a carriage return was written to standard error although it is not a terminal"
fi
[ "$(tail -n 1 "$work/file.err")" = "quorvil end." ] || fail "standard error does not end with 'quorvil end.'"
[ ! -s "$work/file.out" ] || fail "quorvil wrote to standard output"

# The progress line never reaches the CSV: both runs wrote the same file.
[ "$(wc -l <"$work/file.csv")" -gt 1 ] || fail "the CSV of the generated log holds no line after the header"
cmp -s "$work/tty.csv" "$work/file.csv" || fail "the CSV written with a terminal differs from the one written without"

# --- quorvil-info shows the same line, and clears it ----------------------------
info="$build/info/quorvil-info"
[ -x "$info" ] || fail "$info is not built"
cmd=$(printf '%q ' "$info" "$log")
set +e
script -qec "$cmd >$(printf '%q' "$work/info.out")" /dev/null </dev/null >"$work/info.raw" 2>&1
status=$?
set -e
[ "$status" -eq 0 ] || { cat "$work/info.raw" >&2; fail "quorvil-info on a terminal exited with $status"; }
grep -qE $'\r *[0-9]{1,3}% of .*MB/s' "$work/info.raw" ||
    { cat -A "$work/info.raw" | tail -c 400 >&2; fail "quorvil-info showed no progress line on a terminal"; }
# the last thing written to the terminal erases the line
[ "$(tail -c 4 "$work/info.raw" | od -An -c | tr -d ' ')" = '\r033[K' ] ||
    { cat -A "$work/info.raw" | tail -c 200 >&2; fail "quorvil-info left its progress line on the terminal"; }
grep -qE '^  verdict: +intact$' "$work/info.out" || fail "quorvil-info's report under a terminal is not whole"
"$info" "$log" >/dev/null 2>"$work/info.err" || fail "quorvil-info with standard error to a file failed"
[ ! -s "$work/info.err" ] || { cat -A "$work/info.err" >&2; fail "quorvil-info wrote progress to a file"; }

echo "progress_test: ok"

#!/usr/bin/env bash
# Checks that a program runs on any x86-64 processor: no instruction of AVX,
# BMI or POPCNT outside the functions of its AVX2 build (isa_avx2::), which
# it calls only where the processor has them.  The two builds make some of
# the same templates, of which the linker keeps one: this is what tells
# that it kept the one that runs anywhere.
#
#   bash tests/scripts/isa_guard_test.sh PROGRAM
set -euo pipefail

objdump -d --no-show-raw-insn -C "$1" | awk '
    /^[0-9a-f]+ <.*>:$/ { fn = $0; next }
    $1 ~ /^[0-9a-f]+:$/ && NF >= 2 {
        op = $2
        special = (op ~ /^v/ && op != "verr" && op != "verw") ||
                  op ~ /^(andn|bextr|blsi|blsmsk|blsr|bzhi|mulx|pdep|pext|rorx|sarx|shlx|shrx|lzcnt|popcnt)$/
        if (special) {
            seen++
            if (fn !~ /isa_avx2::/) { print "outside the AVX2 build: " fn " " $0; bad++ }
        }
    }
    END {
        if (seen == 0) { print "no AVX2 build found in the program"; exit 1 }
        exit bad > 0
    }'

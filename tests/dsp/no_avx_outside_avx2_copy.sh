#!/usr/bin/env bash
# The generic copy of the audio core must run on every x86-64 CPU: in the built plug-in library, every
# function that holds an AVX instruction (VEX-encoded, on xmm/ymm registers) must belong to the avx2
# copy (lumisere::dsp::avx2). An inline function that a linker kept from the avx2 objects for callers
# in generic code would show up here under its own name.
#
# usage: no_avx_outside_avx2_copy.sh OBJDUMP LIBRARY
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: $0 OBJDUMP LIBRARY" >&2; exit 2; }
objdump=$1
library=$2

report=$("$objdump" -d -C --no-show-raw-insn "$library" | awk '
  /^[0-9a-f]+ <.*>:$/ { name = substr($0, index($0, "<") + 1); sub(/>:$/, "", name); next }
  /^ +[0-9a-f]+:\t/ {
    split($0, parts, "\t"); insn = parts[2]
    if (insn ~ /^v[a-z0-9]+ / && insn ~ /%[xyz]mm/ || insn ~ /^vzero(upper|all)/) {
      avx[name]++
    }
  }
  END {
    for (f in avx) {
      if (f ~ /lumisere::dsp::avx2::/) inside++
      else { print "AVX outside the avx2 copy: " f " (" avx[f] " instructions)"; outside++ }
    }
    printf "%d functions of the avx2 copy hold AVX instructions, %d functions elsewhere\n", inside, outside
  }')
echo "$report"
echo "$report" | tail -n 1 | grep -q ' 0 functions elsewhere$' || exit 1
echo "$report" | tail -n 1 | grep -qv '^0 functions' || { echo "no avx2 copy found in $library" >&2; exit 1; }

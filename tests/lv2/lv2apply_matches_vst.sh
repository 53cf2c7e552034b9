#!/usr/bin/env bash
# lv2apply (lilv's command-line host) renders a test signal through the LV2 bundle, with the defaults
# and with a stronger setting given in the ports' units; the lumisere tool renders the same signal
# through the VST 2.x entry point with the same settings, at two block sizes. All renders of one
# setting must be equal bit for bit.
#
# lv2apply runs the plug-in one frame at a time: it connects the audio ports to one interleaved frame
# and calls run(1) per frame (lilv's tools/lv2apply.c; under gdb, a 480-frame file gives 480 runs of
# one frame). The tool's blocks of 512 and 333 frames, against runs of 1, show that the output does
# not depend on the host's block size.
#
# Usage: lv2apply_matches_vst.sh LV2_DIR LUMISERE_TOOL WORK_DIR [PRELOAD_FOR_THE_HOST]
set -euo pipefail
lv2_dir=$1
tool=$2
work=$3
preload=${4:-}
uri=https://ostrel-audio.example/plugins/lumisere

rm -rf "$work"
mkdir -p "$work"
cd "$work"

# 3.7 s at 48 kHz, 32-bit float so nothing is quantised on the way: a two-tone "voice", sibilant
# noise above 5 kHz, and pauses with hiss at about -62 dBFS (below the stronger gate threshold).
format=(-r 48000 -c 2 -e floating-point -b 32)
sox -R -n "${format[@]}" voice.wav synth 0.6 sine 220 sine 330 gain -12
sox -R -n "${format[@]}" ess.wav synth 0.35 whitenoise vol 0.5 highpass 5000 highpass 5000
sox -R -n "${format[@]}" hiss.wav synth 0.6 whitenoise gain -62
sox -R voice.wav ess.wav hiss.wav voice.wav hiss.wav ess.wav voice.wav signal.wav

# Samples only: the two writers' WAV headers differ.
samples() { sox -V1 "$1" -t f32 "$2"; }

lv2apply_render() {
  local out=$1
  shift
  local controls=()
  while [ $# -gt 0 ]; do
    controls+=(-c "$1" "$2")
    shift 2
  done
  LV2_PATH=$lv2_dir LD_PRELOAD=$preload ASAN_OPTIONS=detect_leaks=0 \
    lv2apply "${controls[@]}" -i signal.wav -o "$out" "$uri"
}

failures=0
# compare NAME LV2_CONTROLS... -- TOOL_OPTIONS...
compare() {
  local name=$1
  shift
  local lv2=() vst=()
  while [ "$1" != "--" ]; do
    lv2+=("$1")
    shift
  done
  shift
  vst=("$@")
  lv2apply_render "$name-lv2.wav" "${lv2[@]}"
  samples "$name-lv2.wav" "$name-lv2.f32"
  for block in 512 333; do
    "$tool" process signal.wav -o "$name-vst-$block.wav" --block "$block" --force "${vst[@]}" >"$name-vst-$block.txt"
    samples "$name-vst-$block.wav" "$name-vst-$block.f32"
    if cmp "$name-lv2.f32" "$name-vst-$block.f32"; then
      echo "$name: lv2apply (runs of 1 frame) = lumisere --block $block, $(stat -c %s "$name-lv2.f32") bytes of samples"
    else
      echo "FAIL: $name: lv2apply and lumisere --block $block differ"
      failures=$((failures + 1))
    fi
  done
}

compare defaults -- 
compare strong de_ess_thresh -36 focus_freq 7200 dipses_thresh -44 noise_reduce -40 air_silk 40 \
  output_trim -1.5 dry_wet 90 -- \
  --de-ess-thresh -36 --focus-freq 7200 --dipses-thresh -44 --noise-reduce -40 --air-silk 40 \
  --output-trim -1.5 --dry-wet 90

# The settings reached the plug-in, and the signal set both stages to work.
if cmp -s defaults-lv2.f32 strong-lv2.f32; then
  echo "FAIL: the stronger setting renders like the defaults"
  failures=$((failures + 1))
fi
cat strong-vst-512.txt
if grep -Eq '(de-esser|hiss gate) max +0\.0 dB' strong-vst-512.txt; then
  echo "FAIL: a stage did nothing to the test signal"
  failures=$((failures + 1))
fi

[ "$failures" -eq 0 ] || exit 1

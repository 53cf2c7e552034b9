#!/usr/bin/env bash
# The LV2 bundle as validators and hosts read it:
#   1. sord_validate finds no error and no warning in its Turtle, checked against every schema lv2-dev
#      installs (those only: other plug-ins installed beside them, such as x42's, bring their own
#      mistakes).
#   2. lv2info (lilv, as hosts read bundles) lists the plug-in and its ports with the names, ranges and
#      defaults of the parameter table, its named presets and its X11 editor; the units and the editor's features, which
#      lv2info does not print, are read with sordi.
#   3. Each module exports its one descriptor function and nothing else, and with the C++ runtime
#      linked in (STATIC_RUNTIME 1) needs no libstdc++ or libgcc_s from the host's system.
# Usage: bundle_test.sh BUNDLE_DIR STATIC_RUNTIME
set -euo pipefail
bundle=$1
static_runtime=$2
uri=https://ostrel-audio.example/plugins/lumisere
failures=0
# The vocabulary bundles of lv2-dev, linked into a folder of their own for lilv's LV2_PATH.
schemas=$(mktemp -d)
trap 'rm -rf "$schemas"' EXIT
while IFS= read -r vocabulary; do
  ln -s "$vocabulary" "$schemas/"
done < <(dpkg -L lv2-dev | grep -E '^/usr/lib/lv2/[^/]+\.lv2$')
[ -e "$schemas/core.lv2" ] || { echo "FAIL: lv2-dev lists no LV2 core bundle"; exit 1; }

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

report=$(sord_validate "$schemas"/*.lv2/*.ttl "$bundle"/manifest.ttl "$bundle"/lumisere.ttl "$bundle"/presets.ttl 2>&1) || true
echo "sord_validate: $(tail -n 1 <<<"$report")"
if ! grep -q '^Found 0 errors' <<<"$report" || grep -qi 'warn' <<<"$report"; then
  fail "sord_validate"$'\n'"$report"
fi

# With the schemas' bundles in the path, lilv also knows the plug-in's class.
info=$(LV2_PATH="$(dirname "$bundle"):$schemas" lv2info "$uri")
echo "$info" | sed -n '1,16p'

# One line per port: symbol|name|minimum|maximum|default (lv2info writes numbers with %f).
ports=$(awk '
  function flush() { if (symbol != "") print symbol "|" name "|" min "|" max "|" def; symbol = name = min = max = def = "" }
  /^\tPort [0-9]+:/ { flush() }
  /^\t\tSymbol:/ { symbol = $2 }
  /^\t\tName:/ { sub(/^\t\tName: +/, ""); name = $0 }
  /^\t\tMinimum:/ { min = $2 }
  /^\t\tMaximum:/ { max = $2 }
  /^\t\tDefault:/ { def = $2 }
  END { flush() }' <<<"$info")

expect_info() {
  grep -q "$1" <<<"$info" || fail "lv2info shows no line matching: $1"
}
expect_info $'^\tName: *Ostrel Lumisere$'
expect_info $'^\tClass: *Dynamics Plugin$'
expect_info $'^\tAuthor: *Ostrel Audio$'
expect_info $'^\tHas latency: *no$'
expect_info $'^\tOptional Features: *http://lv2plug.in/ns/lv2core#hardRTCapable$'
expect_info $'^\t\thttps://ostrel-audio.example/plugins/lumisere#ui$'
# The named presets, as hosts list them.
for preset in "Podcast voice" "Gentle vocal" "Harsh esses" "Noisy room" "Air only"; do
  expect_info $'^\t *'"$preset\$"
done
expect_info $'^\t\t\tClass: *http://lv2plug.in/ns/extensions/ui#X11UI$'
expect_info $'^\t\t\tBinary: *file://.*/Lumisere.lv2/Lumisere_ui.so$'

[ "$(wc -l <<<"$ports")" -eq 15 ] || fail "lv2info lists $(wc -l <<<"$ports") ports, not 15"
expect_port() {
  grep -qxF "$1" <<<"$ports" || fail "no port $1 in:"$'\n'"$ports"
}
expect_port "in_l|In L|||"
expect_port "out_r|Out R|||"
expect_port "de_ess_thresh|De-Ess Thresh|-40.000000|0.000000|-20.000000"
expect_port "focus_freq|Focus Freq|4000.000000|11000.000000|6800.000000"
expect_port "listen_sibilance|Listen Sibilance|0.000000|1.000000|0.000000"
expect_port "dipses_thresh|Dipses Thresh|-80.000000|-24.000000|-54.799999"
expect_port "noise_reduce|Noise Reduce|-40.000000|0.000000|-24.000000"
expect_port "air_silk|172 Air Silk|0.000000|100.000000|75.000000"
expect_port "dry_wet|Dry/Wet|0.000000|100.000000|100.000000"
expect_port "bypass|Bypass|0.000000|1.000000|0.000000"
expect_port "de_ess_reduction|De-Ess Reduction|0.000000|26.020599|"
expect_port "gate_reduction|Gate Reduction|0.000000|40.000000|"
# The two switches, and only they, are toggled integer ports (lilv lists properties in no set order).
for property in toggled integer; do
  count=$(grep -c "lv2core#$property\$" <<<"$info" || true)
  [ "$count" -eq 2 ] || fail "$count ports are lv2:$property, not 2"
done

# Units: the port node that carries a symbol must carry the unit (the editor's notifications name
# the reduction ports' symbols too, in nodes without an index).
triples=$(sordi "$bundle/lumisere.ttl")
expect_unit() {
  local node
  for node in $(grep -F "<http://lv2plug.in/ns/lv2core#symbol> \"$1\" ." <<<"$triples" | cut -d' ' -f1); do
    grep -q "^$node <http://lv2plug.in/ns/lv2core#index> " <<<"$triples" || continue
    grep -qxF "$node <http://lv2plug.in/ns/extensions/units#unit> <http://lv2plug.in/ns/extensions/units#$2> ." \
      <<<"$triples" && return
  done
  fail "port $1 has no unit $2"
}
expect_unit de_ess_thresh db
expect_unit focus_freq hz
expect_unit output_trim db
expect_unit air_silk pc
expect_unit dry_wet pc
expect_unit gate_reduction db
expect_unit de_ess_reduction db

# As LV2's lint tool reads it: a licence, a short description and a maintainer to write to; a comment
# on every port (the table's descriptions); values as decimals, integers only on the two switches;
# the audio ports in a stereo input and a stereo output group, left and right designated.
lv2=http://lv2plug.in/ns/lv2core pg=http://lv2plug.in/ns/ext/port-groups
for triple in "<$uri> <http://usefulinc.com/ns/doap#license> <" "<$uri> <http://usefulinc.com/ns/doap#shortdesc> \"" \
  "<http://xmlns.com/foaf/0.1/mbox> <mailto:" "<http://xmlns.com/foaf/0.1/homepage> <https:" \
  "<$uri#in> <http://www.w3.org/1999/02/22-rdf-syntax-ns#type> <$pg#StereoGroup> ." \
  "<$uri#out> <http://www.w3.org/1999/02/22-rdf-syntax-ns#type> <$pg#StereoGroup> ." \
  "\"Level below which the hiss gate lowers the signal\""; do
  grep -qF "$triple" <<<"$triples" || fail "no triple with: $triple"
done
[ "$(grep -c "<http://www.w3.org/2000/01/rdf-schema#comment>" <<<"$triples")" -eq 16 ] || fail "not every port (15) and the plug-in have a comment"
[ "$(grep -cE "<$lv2#(default|minimum|maximum)> .*#integer> \.\$" <<<"$triples")" -eq 6 ] ||
  fail "integer values besides the switches':"$'\n'"$(grep -E "<$lv2#(default|minimum|maximum)> .*#integer>" <<<"$triples")"
for side in in_l:in:left in_r:in:right out_l:out:left out_r:out:right; do
  IFS=: read -r symbol group channel <<<"$side"
  node=$(grep -F "<$lv2#symbol> \"$symbol\" ." <<<"$triples" | cut -d' ' -f1)
  grep -qxF "$node <$pg#group> <$uri#$group> ." <<<"$triples" && grep -qxF "$node <$lv2#designation> <$pg#$channel> ." <<<"$triples" ||
    fail "$symbol is not the $channel channel of the $group group"
done

# The editor: opens in the host's window, wants the host's idle calls and offers the interface for
# them, and asks for both reductions by symbol.
ui_triple() {
  grep -qxF "<$uri#ui> <$1> <$2> ." <<<"$triples" || fail "the editor lacks $1 $2"
}
ui_triple http://lv2plug.in/ns/lv2core#requiredFeature http://lv2plug.in/ns/extensions/ui#parent
ui_triple http://lv2plug.in/ns/lv2core#optionalFeature http://lv2plug.in/ns/extensions/ui#idleInterface
ui_triple http://lv2plug.in/ns/lv2core#optionalFeature http://lv2plug.in/ns/extensions/ui#resize
ui_triple http://lv2plug.in/ns/lv2core#optionalFeature http://lv2plug.in/ns/extensions/ui#noUserResize
ui_triple http://lv2plug.in/ns/lv2core#extensionData http://lv2plug.in/ns/extensions/ui#idleInterface
for symbol in de_ess_reduction gate_reduction; do
  grep -qF "<http://lv2plug.in/ns/lv2core#symbol> \"$symbol\" ." <<<"$(
    for node in $(grep -F "<$uri#ui> <http://lv2plug.in/ns/extensions/ui#portNotification> " <<<"$triples" |
                  cut -d' ' -f3); do
      grep "^$node " <<<"$triples"
    done)" || fail "the editor is not notified of $symbol"
done

for module in Lumisere.so:lv2_descriptor Lumisere_ui.so:lv2ui_descriptor; do
  file=${module%%:*}
  exports=$(nm -D --defined-only "$bundle/$file" | awk '{print $NF}')
  [ "$exports" = "${module#*:}" ] || fail "$file exports: $exports"
  needed=$(readelf -d "$bundle/$file" | grep NEEDED || true)
  if [ "$static_runtime" = 1 ] && grep -Eq 'libstdc\+\+|libgcc_s' <<<"$needed"; then
    fail "$file needs the system's C++ runtime:"$'\n'"$needed"
  fi
done

[ "$failures" -eq 0 ] || { echo "$failures failures"; exit 1; }
echo "the bundle validates, lists its ports as the parameter table says and its editor, and each module exports only its descriptor function"

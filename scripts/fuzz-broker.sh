#!/usr/bin/env bash
# Fuzzes what a broker may send the MQTT publisher (libFuzzer, clang, ASan + UBSan) for
# SECONDS: set messages, profiles, birth messages and other clients' topics, through the
# publisher's decisions and its writes to a simulated controller. Seeded with a set message of each
# parameter (its short name from ostrelctl list, a value it takes), the factory reset's and
# a profile (a backup of the simulated controller); the dictionary holds the names, the
# timers' words and the profile's keys. Prints the figures.
#   scripts/fuzz-broker.sh [SECONDS]    (default 60)
# The corpus grows in build/fuzz/broker-corpus; a crash leaves its input in build/fuzz.
set -euo pipefail
seconds=${1:-60}
cd "$(dirname "$0")/.."
# shellcheck source=lib/fuzz.sh
source scripts/lib/fuzz.sh
build=$PWD/build/fuzz
fuzz_build ostrelctl_broker_fuzz
corpus=$build/broker-corpus
mkdir -p "$corpus"
# Kind byte 0: a set topic of ours, the short name, NUL, the value.
mapfile -t names < <("$build/cli/ostrelctl" --simulated list | sed -n 's/.*(\([a-z0-9-]*\))$/\1/p')
for name in "${names[@]}"; do
  printf '\0%s\0%s' "$name" 5 >"$corpus/seed-$name"
done
printf '\0%s\0%s' reset-to-factory-defaults reset >"$corpus/seed-reset"
printf '\1\0online' >"$corpus/seed-birth"
# Kind byte 2: the vehicle's profile topic, a backup of the simulated controller.
{ printf '\2\0'; "$build/cli/ostrelctl" --simulated backup - 2>/dev/null; } >"$corpus/seed-profile"
dictionary=$build/broker.dict
{
  printf '%s\n' "${names[@]}" reset-to-factory-defaults reset Never 00:10:00 online -20 12.5 \
    convert true raw text parameters firmware
} | sort -u | sed 's/.*/"&"/' >"$dictionary"
fuzz_run broker "$seconds" "$build" "$corpus" "$build/broker-fuzz.log" \
  "$build/cli/fuzz/ostrelctl_broker_fuzz" -dict="$dictionary" -artifact_prefix="$build/"

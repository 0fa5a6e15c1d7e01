#!/usr/bin/env bash
# Plants one fault at a time into a copy of the service unit and wants
# scripts/check-unit to refuse each, the ones systemd-analyze only warns
# about included; the unit as shipped must pass the same check.
# Usage: plant-faults.sh SOURCE_DIR BINARY
set -uo pipefail
src=$1 binary=$2
unit=$src/res/install/brivane-cli@.service
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
# sed expression, then what it breaks.
faults=(
  's/^WatchdogSec=/WatchdogSecs=/|a misspelt key'
  's/^Type=notify/Type=notfy/|a value it cannot parse'
  's/^ProtectSystem=strict/ProtectSystem=strikt/|a hardening setting it cannot parse'
  's/^WatchdogSec=.*/WatchdogSec=half a minute/|a time it cannot parse'
  's/^\[Service\]/[Servic]/|an unknown section'
  's|^ExecStart=/usr/bin/brivane-cli |ExecStart=/usr/bin/no-such-brivane-cli ||a program that is not there'
)
for fault in "${faults[@]}"; do
  expr=${fault%|*} what=${fault##*|}
  mkdir -p "$work/unit"
  planted=$work/unit/brivane-cli@.service
  sed "$expr" "$unit" >"$planted"
  if cmp -s "$unit" "$planted"; then
    echo "planting $what changed nothing: $expr"
    failed=1
  elif "$src/scripts/check-unit" "$planted" "$binary" no >/dev/null; then
    echo "check-unit let $what through: $expr"
    failed=1
  fi
done
if ! "$src/scripts/check-unit" "$unit" "$binary" no; then
  echo "the unit as shipped is refused"
  failed=1
fi
[ $failed -eq 0 ] && echo "every planted fault refused"
exit $failed

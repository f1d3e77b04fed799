#!/usr/bin/env bash
# The Windows build's simulator under Wine (the real kovirlm.dll, Wine's
# registry) must leave the same StMonitor values as the native build's for the
# same scenario. Usage: wine_matches_native.sh NATIVE_SIMULATOR WINDOWS_SIMULATOR [WINE]
# (WINE: the loader the build's tests run with, wine or wine64; default wine).
#
# The one value that differs between any two runs, native or not, is the number
# the printer gives its volunteered status updates (SEQ:nnnn, counted in time
# periods): it is masked before the exports are compared. Exits 77 (skipped)
# when there is no native simulator to compare with.
set -euo pipefail
native=${1:?native simulator}
windows=${2:?windows simulator}
wine=${3:-wine}
if [ ! -x "$native" ]; then
  echo "no native simulator at $native: build the native preset first"
  exit 77
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

mask() { sed -E 's/SEQ:[0-9]+/SEQ:nnnn/g' "$1"; }

status=0
compare() {
  local name=$1
  shift
  local args=(--printer "wine vs native $name" --poll-interval 200 --pace 24 "$@")
  if ! "$native" --out "native-$name" "${args[@]}" >"native-$name.log" 2>&1; then
    echo "FAIL $name: the native run failed"; cat "native-$name.log"; status=1; return
  fi
  if ! "$wine" "$windows" --out "wine-$name" "${args[@]}" >"wine-$name.log" 2>&1; then
    echo "FAIL $name: the run under Wine failed"; cat "wine-$name.log"; status=1; return
  fi
  if diff -u <(mask "native-$name/StMonitor.reg") <(mask "wine-$name/StMonitor.reg"); then
    echo "ok   $name: $(grep -c '^"' "native-$name/StMonitor.reg") values alike"
  else
    echo "FAIL $name: the registry values differ (native -, Wine +)"; status=1
  fi
}

# Status updates every 1.5 s: none can fall due before the ink reply is read
# (half a second into the document) and at least one does while the job prints
# (two seconds at 24 KiB/s), with about a second to spare either way.
compare KP-210S --model KP-210S --status-updates 1500
# The same through the NT face: its UTF-16 names and wide registry calls meet
# Wine's real ones.
compare KP-210S-nt --model KP-210S --status-updates 1500 --face nt
# No updates at all: the poller stores the status reply itself, byte for byte.
compare KP-6600S --model KP-6600S --status-updates 0
compare other-maker --device-id "MFG:ACME;MDL:Laser 5;CLS:PRINTER;"
compare no-status-app --no-status-app
exit $status

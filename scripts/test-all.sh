#!/usr/bin/env bash
# Installs what the build and the tests need (Debian 12, as root) when it is
# missing, then configures, builds and tests every preset: native, asan,
# fuzz, win32 and wine (the scenario table against savefix.exe under
# Wine), then checks that two release builds of HEAD are the same bytes
# (tests/release_reproducible.sh). Prints "N passed, N failed" last and
# exits non-zero if any test failed or could not run.
#
#   bash scripts/test-all.sh
set -uo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh
savefix_help "$@"
[ $# -eq 0 ] || savefix_usage
savefix_every_core

if ! bash scripts/install-deps.sh test; then
  echo "0 passed, 1 failed: could not install the build tools"
  exit 1
fi

# Wine, and on machines that run no 32-bit code the emulation it needs there.
if ! bash scripts/wine-setup.sh; then
  echo "0 passed, 1 failed: Wine cannot run 32-bit programs here"
  exit 1
fi

passed=0
failed=0
broken=()

# Runs one workflow preset and adds its test counts to the totals.
run_preset() {
  local preset=$1 log
  log=$(mktemp)
  echo "== $preset"
  if cmake --workflow --preset "$preset" 2>&1 | tee "$log"; then :; fi
  local summary
  summary=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
  if [ -z "$summary" ]; then
    broken+=("$preset")
    failed=$((failed + 1))
  else
    local bad total
    bad=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<< "$summary")
    total=$(sed -E 's/.* failed out of ([0-9]+).*/\1/' <<< "$summary")
    passed=$((passed + total - bad))
    failed=$((failed + bad))
  fi
  rm -f "$log"
}

# win32 comes before wine: the Wine scenarios run the savefix.exe it builds.
for preset in native asan fuzz win32 wine; do
  run_preset "$preset"
done

# Two releases of HEAD, from two fresh clones, must be the same bytes.
echo "== release"
log=$(mktemp)
bash tests/release_reproducible.sh 2>&1 | tee "$log"
summary=$(grep -E '^release checks: [0-9]+ passed, [0-9]+ failed$' "$log" | tail -n 1)
if [ -z "$summary" ]; then
  broken+=(release)
  failed=$((failed + 1))
else
  read -r _ _ good _ bad _ <<< "$summary"
  passed=$((passed + good))
  failed=$((failed + bad))
fi
rm -f "$log"

echo
[ "${#broken[@]}" -gt 0 ] && echo "Did not build or run: ${broken[*]}"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]

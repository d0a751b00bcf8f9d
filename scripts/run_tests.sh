#!/usr/bin/env bash
# Sets up the machine, builds the workspace and runs every test. Exits
# non-zero when a test fails and closes with "N passed, N failed".
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install_dependencies.sh
scripts/build_workspace.sh
# A robot builds without tests: the workspace, its client package included,
# must build so too.
scripts/build_workspace.sh --build-base build_release --install-base install_release \
  --cmake-args -DBUILD_TESTING=OFF

. scripts/lib/journal.bash
. scripts/lib/workspace.bash

rm -rf build/*/test_results build/*/Testing
status=0
colcon test "${skip_standins[@]}" --return-code-on-test-failure --ctest-args --output-on-failure || status=$?
colcon test-result --verbose >/dev/null || status=1

# Count test cases from the gtest reports; ctest's own records would count each executable again.
totals=$(colcon test-result --all | grep '/test_results/' |
  sed -E 's/.*: ([0-9]+) tests?, ([0-9]+) errors?, ([0-9]+) failures?, ([0-9]+) skipped/\1 \2 \3 \4/' |
  awk '{t += $1; e += $2; f += $3; s += $4} END {print t + 0, e + 0, f + 0, s + 0}')
read -r total errors failures skipped <<<"$totals"
if [ "$status" -ne 0 ]; then
  colcon test-result --verbose || true
fi
failed=$((errors + failures))
passed=$((total - failed - skipped))
if [ "$total" -eq 0 ]; then
  echo "No test ran." >&2
  status=1
fi
echo "$total tests"
echo "tests: $passed passed, $failed failed, $skipped skipped"
exit "$status"

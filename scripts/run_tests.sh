#!/usr/bin/env bash
# Sets up the machine, builds the workspace and runs every test. Exits
# non-zero when a test fails and closes with "N passed, N failed".
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install_dependencies.sh
scripts/build_workspace.sh

# The journal tests need a systemd journal; start one for this run if none is up.
started_journal=""
stop_journal() {
  if [ -n "$started_journal" ]; then
    kill "$started_journal" 2>/dev/null || true
  fi
}
trap stop_journal EXIT
if ! pgrep -f /lib/systemd/systemd-journald >/dev/null; then
  mkdir -p /run/systemd/journal
  setsid /lib/systemd/systemd-journald </dev/null >/dev/null 2>&1 &
  started_journal=$!
  for _ in $(seq 50); do
    [ -S /run/systemd/journal/socket ] && break
    sleep 0.1
  done
fi

rm -rf build/*/test_results
status=0
colcon test --return-code-on-test-failure --ctest-args --output-on-failure || status=$?

results=$(colcon test-result --verbose) || status=1
echo "$results"
summary=$(echo "$results" | grep '^Summary:' | tail -n 1)
total=$(echo "$summary" | sed -E 's/^Summary: ([0-9]+) tests.*/\1/')
errors=$(echo "$summary" | sed -E 's/.* ([0-9]+) errors.*/\1/')
failures=$(echo "$summary" | sed -E 's/.* ([0-9]+) failures.*/\1/')
skipped=$(echo "$summary" | sed -E 's/.* ([0-9]+) skipped.*/\1/')
failed=$((errors + failures))
passed=$((total - failed - skipped))
if [ "$total" -eq 0 ]; then
  echo "No test ran." >&2
  status=1
fi
echo "$total tests"
echo "tests: $passed passed, $failed failed, $skipped skipped"
exit "$status"

#!/usr/bin/env bash
# Builds the workspace and runs the benchmark program: five repetitions of
# each figure and its ideal baseline, medians kept. Writes the JSON results and
# the monitoring-cycle plot under benchmarks/ and prints every ratio.
# Extra arguments go to the benchmark program (for example --benchmark_filter=Report).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install_dependencies.sh
if ! /usr/bin/python3 -c 'import matplotlib' 2>/dev/null; then
  as_root=()
  [ "$(id -u)" -ne 0 ] && as_root=(sudo)
  "${as_root[@]}" apt-get install -y -qq --no-install-recommends python3-matplotlib
fi
scripts/build_workspace.sh

set +u  # colcon's setup scripts read unset variables
. install/setup.bash
set -u
mkdir -p benchmarks
install/kelvane_rovimar_diagnosis/lib/kelvane_rovimar_diagnosis/bench_diagnosis \
  --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
  --benchmark_out=benchmarks/results.json --benchmark_out_format=json "$@"
/usr/bin/python3 kelvane_rovimar_diagnosis/benchmark/summarize.py \
  benchmarks/results.json benchmarks/monitoring_cycle.svg

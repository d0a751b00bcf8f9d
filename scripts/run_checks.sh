#!/usr/bin/env bash
# The reliability checks, after the test command: builds the workspace twice
# more, each in its own build and install folders, and runs the whole test
# suite under each with zero sanitizer reports allowed:
#   build_asan/, install_asan/  clang, AddressSanitizer + UndefinedBehaviorSanitizer
#   build_tsan/, install_tsan/  gcc, ThreadSanitizer
# then runs every fuzz target (built in the first) for FUZZ_SECONDS (60) each.
# Exits non-zero on the first failure and prints how long each step took.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
fuzz_seconds=${FUZZ_SECONDS:-60}

scripts/install_dependencies.sh clang-14 libclang-rt-14-dev

step_started=$SECONDS
step() {
  echo "== $1: $((SECONDS - step_started)) s"
  step_started=$SECONDS
}

# A sanitizer report ends the process with a failure.
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:detect_stack_use_after_return=1:strict_string_checks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1"


# build_and_test <name> <C compiler> <C++ compiler> <sanitizer flags> [cmake args]
build_and_test() {
  local name=$1 cc=$2 cxx=$3 flags=$4
  shift 4
  local packages=(--build-base "build_$name" --install-base "install_$name")
  CC=$cc CXX=$cxx scripts/build_workspace.sh "${packages[@]}" --cmake-args \
    "-DCMAKE_CXX_FLAGS=$flags -fno-omit-frame-pointer" \
    "-DCMAKE_C_FLAGS=$flags -fno-omit-frame-pointer" \
    "-DCMAKE_EXE_LINKER_FLAGS=$flags" "-DCMAKE_SHARED_LINKER_FLAGS=$flags" \
    -DDIAGNOSIS_TEST_TIMEOUT_SCALE=4 "$@"
  step "build $name"
  rm -rf "build_$name"/*/test_results "build_$name"/*/Testing
  colcon test "${packages[@]}" "${skip_standins[@]}" --return-code-on-test-failure --ctest-args --output-on-failure
  colcon test-result --test-result-base "build_$name" --verbose
  step "test suite under $name"
}

. scripts/lib/journal.bash
. scripts/lib/workspace.bash
build_and_test asan clang-14 clang++-14 \
  "-fsanitize=address,undefined -fno-sanitize-recover=all" -DBUILD_FUZZERS=ON
build_and_test tsan gcc g++ "-fsanitize=thread"

# Each fuzz target grows its corpus in build_asan/fuzz_corpus from the seeds in
# fuzz/corpus; an input that fails is kept there as crash-*, leak-* or timeout-*.
fuzzers="$root/build_asan/kelvane_rovimar_diagnosis"
seeds="$root/kelvane_rovimar_diagnosis/fuzz/corpus"
export TMPDIR="$root/build_asan/fuzz_scratch"
mkdir -p "$TMPDIR"
for target in fuzz_threshold_loader:thresholds fuzz_check_thresholds:thresholds \
  fuzz_calibration_reader:calibration fuzz_recording_reader:recording; do
  name=${target%%:*}
  corpus="$root/build_asan/fuzz_corpus/$name"
  mkdir -p "$corpus"
  log="$root/build_asan/fuzz_corpus/$name.log"
  if ! "$fuzzers/$name" -max_total_time="$fuzz_seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$root/build_asan/fuzz_corpus/$name-" \
    "$corpus" "$seeds/${target#*:}" >"$log" 2>&1; then
    tail -n 60 "$log" >&2
    echo "$name failed; its log: $log" >&2
    exit 1
  fi
  grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb|Done)' "$log" || true
  echo "$name: $(ls "$corpus" | wc -l) inputs in its corpus"
  step "fuzz $name"
done
echo "checks: all passed"

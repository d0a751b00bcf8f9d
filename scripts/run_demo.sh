#!/usr/bin/env bash
# Sets up the machine, builds the workspace and runs the demo.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install_dependencies.sh
scripts/build_workspace.sh

set +u  # colcon's setup scripts read unset variables
. install/setup.bash
set -u
exec install/kelvane_rovimar_diagnosis_demo/lib/kelvane_rovimar_diagnosis_demo/diagnosis_demo

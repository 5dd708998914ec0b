#!/usr/bin/env bash
# The one test command: set-up, the include layer check, the release build
# with every test, the unit tests again under AddressSanitizer + UBSan, the
# threading tests under ThreadSanitizer, and the fuzz corpora replayed. Exits
# non-zero on any failure.
set -uo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh || exit 1
[ -n "${CI:-}" ] && export QL_WERROR=ON

jobs=$(nproc)
failed=()

step() {
  local name=$1; shift
  echo "== $name"
  if ! "$@"; then
    failed+=("$name")
    return 1
  fi
}

build() {
  local preset=$1; shift
  cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset" -j "$jobs" "$@"
}

run_ctest() {
  local preset=$1; shift
  ctest --test-dir "build/$preset" --output-on-failure -j "$jobs" "$@"
}

step "layer check" scripts/check_layers.sh
# A preset whose build failed has no tests to run.
step "release build" build release && step "release tests" run_ctest release -LE long
step "asan build" build asan && step "asan unit tests" run_ctest asan -L 'unit|fuzz'
step "tsan build" build tsan && step "tsan threading tests" run_ctest tsan -L threading

if [ ${#failed[@]} -ne 0 ]; then
  echo "FAILED: ${failed[*]}"
  exit 1
fi
echo "all tests passed"

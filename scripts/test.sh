#!/usr/bin/env bash
# Installs what is missing, then configures, builds and runs the whole test suite twice:
# once in a normal build (build/) and once under AddressSanitizer and
# UndefinedBehaviorSanitizer (build-asan/). Warnings are errors.
# KAIRELON_TEST_BUILDS="normal" (or "asan") runs one of them only.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

"$top/scripts/install-deps.sh"

jobs=$(nproc)
builds=${KAIRELON_TEST_BUILDS:-"normal asan"}

run_build() {
    local name=$1 dir=$2
    shift 2
    echo "==== $name build in $dir"
    cmake -S . -B "$dir" -G Ninja -DKAIRELON_WERROR=ON "$@"
    cmake --build "$dir" -j "$jobs"
    echo "==== $name tests"
    (cd "$dir" && ctest --output-on-failure -j "$jobs" --timeout 300)
}

for b in $builds; do
    case "$b" in
    normal) run_build normal build -DCMAKE_BUILD_TYPE=RelWithDebInfo ;;
    asan)
        export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1"
        export LSAN_OPTIONS="suppressions=$top/tests/sanitizer/lsan.supp:print_suppressions=0"
        export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
        run_build "ASan+UBSan" build-asan -DCMAKE_BUILD_TYPE=Debug \
            "-DKAIRELON_SANITIZE=address;undefined" -DKAIRELON_BENCH=OFF
        unset ASAN_OPTIONS LSAN_OPTIONS UBSAN_OPTIONS
        ;;
    tsan)
        export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:die_after_fork=0:suppressions=$top/tests/sanitizer/tsan.supp"
        run_build "TSan" build-tsan -DCMAKE_BUILD_TYPE=Debug -DKAIRELON_SANITIZE=thread \
            -DKAIRELON_BENCH=OFF
        unset TSAN_OPTIONS
        ;;
    *) echo "unknown build '$b'" >&2; exit 2 ;;
    esac
done

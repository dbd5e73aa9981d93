#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds, checks the sources' formatting,
# runs every test, then the unit and integration tests a second time under
# ASan and UBSan (build-asan), then every fuzz target for 30 seconds under
# ASan and UBSan.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
kelvora_install_packages
kelvora_build

status=0
# Every C++ source follows the checked-in .clang-format.
echo "== formatting (clang-format-14)"
if ! (cd "$KELVORA_TOP" && find src tests tools bench fuzz pfcp2 \( -name '*.cpp' -o -name '*.h' \) -print0 |
      xargs -0 clang-format-14 --dry-run --Werror); then
  echo "FAILED: formatting (run clang-format-14 -i on the files named above)"; status=1
else
  echo "passed: formatting"
fi

(cd "$KELVORA_BUILD" && ctest --output-on-failure -j2 --timeout 900) || status=1

# The tests again, built with ASan and UBSan: a memory fault, a leak or
# undefined behaviour stops the test program, and fails the run. Each program
# runs whole in one process (start-up under ASan is slow). A program named in
# KELVORA_SANITIZE_SKIP (blank-separated) is left out of this second run.
asan_build=$KELVORA_TOP/build-asan
cmake -S "$KELVORA_TOP" -B "$asan_build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKELVORA_SANITIZE=ON -DKELVORA_BENCH=OFF >/dev/null
cmake --build "$asan_build"
skip=" ${KELVORA_SANITIZE_SKIP-} "
for program in "$asan_build"/tests/test_* "$asan_build"/tests/pfcp2/test_pfcp2; do
  [ -f "$program" ] && [ -x "$program" ] || continue
  name=$(basename "$program")
  case "$skip" in *" $name "*) echo "skipped under sanitizers: $name"; continue ;; esac
  echo "== $name (ASan, UBSan)"
  if ! (cd "$asan_build" && QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1 \
        UBSAN_OPTIONS=print_stacktrace=1 timeout 1800 "$program" --gtest_brief=1 >"$asan_build/$name.log" 2>&1); then
    echo "FAILED: $name"; tail -n 60 "$asan_build/$name.log"; status=1
  else
    echo "passed: $name"
  fi
done

fuzz_build=$KELVORA_TOP/build-fuzz
CC=clang-14 CXX=clang++-14 cmake -S "$KELVORA_TOP" -B "$fuzz_build" -G Ninja \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELVORA_FUZZ=ON >/dev/null
cmake --build "$fuzz_build"
for target in "$fuzz_build"/fuzz/fuzz_*; do
  [ -f "$target" ] && [ -x "$target" ] || continue
  name=$(basename "$target")
  corpus=$fuzz_build/corpus/$name
  mkdir -p "$corpus"
  seeds=$KELVORA_TOP/fuzz/seeds/${name#fuzz_}
  [ -d "$seeds" ] || seeds=
  echo "== $name (30 s)"
  if ! "$target" -max_total_time=30 -print_final_stats=0 "$corpus" $seeds >"$fuzz_build/$name.log" 2>&1; then
    echo "FAILED: $name"; tail -n 40 "$fuzz_build/$name.log"; status=1
  else
    echo "passed: $name"
  fi
done
exit $status

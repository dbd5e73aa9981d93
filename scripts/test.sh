#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds, runs every test, then every fuzz
# target for 30 seconds under ASan and UBSan.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
kelvora_install_packages
kelvora_build

status=0
(cd "$KELVORA_BUILD" && ctest --output-on-failure -j2 --timeout 900) || status=1

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

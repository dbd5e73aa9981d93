#!/usr/bin/env bash
# Window code reaches the core through its interfaces and factories only: no
# window source (each one given, and the header beside it) includes an
# *Impl.h header. Fails, naming the lines, when one does, and when no source
# is given (an empty list would pass without looking).
set -euo pipefail
if [ $# -eq 0 ]; then
  echo "usage: $0 WINDOW_SOURCE.cpp..." >&2
  exit 2
fi
status=0
checked=0
for source in "$@"; do
  for file in "$source" "${source%.cpp}.h"; do
    [ -f "$file" ] || continue
    checked=$((checked + 1))
    if grep -HnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]([^">]*/)?[^/">]*Impl\.h[">]' "$file"; then
      status=1
    fi
  done
done
if [ "$checked" -eq 0 ]; then
  echo "no window source found among the $# given" >&2
  exit 2
fi
if [ $status -ne 0 ]; then
  echo "FAILED: window code includes an *Impl.h header (use the interface in uInterfaces.h and uFactories.h)"
else
  echo "passed: $checked window files include no *Impl.h header"
fi
exit $status

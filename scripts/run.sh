#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds, and starts the program in the
# local agency sandbox ($KELVORA_BUILD/sandbox: demo keys, mail servers on
# loopback, the agencies' gateway simulator), prepared on first use and
# reused later; delete that folder to start afresh. Everything the sandbox
# starts stops when the program ends. Arguments go to the program.
#
# With KELVORA_ROOT set, the program runs in that root instead, without the
# sandbox: against the mail servers and keys that root's settings name.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
kelvora_install_packages
kelvora_build

if [ -n "${KELVORA_ROOT:-}" ]; then
  exec "$KELVORA_BUILD/src/kelvora" "$@"
fi

exec "$KELVORA_BUILD/tools/sandbox/kelvora_sandbox" \
  --folder "$KELVORA_BUILD/sandbox" \
  --client "$KELVORA_BUILD/src/kelvora" \
  --pki-tool "$KELVORA_BUILD/tools/pki/kelvora_pki" \
  --gateway "$KELVORA_BUILD/tools/agency-gateway/kelvora_gateway" \
  --config "$KELVORA_TOP/config" \
  --help-folder "$KELVORA_TOP/help" \
  -- "$@"

#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds, and starts the program.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
kelvora_install_packages
kelvora_build
exec "$KELVORA_BUILD/src/kelvora" "$@"

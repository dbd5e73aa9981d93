#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need (only those that
# are missing), then configures and builds. Sourced by run.sh and test.sh.
set -euo pipefail

KELVORA_TOP=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
KELVORA_BUILD=${KELVORA_BUILD:-$KELVORA_TOP/build}

kelvora_packages=(
  cmake ninja-build g++ pkg-config ccache
  qt6-base-dev libgl-dev libqt6svg6 qt6-translations-l10n
  libxml2-dev libpcre2-dev libssl-dev openssl libsqlite3-dev sqlite3 libgmime-3.0-dev libzip-dev zlib1g-dev libdw-dev
  libgtest-dev google-mock libbenchmark-dev
  clang-14 libclang-rt-14-dev clang-format-14
  zip unzip python3 curl poppler-utils fonts-liberation2
  dovecot-pop3d python3-aiosmtpd
  postgresql-15 libpq-dev
  desktop-file-utils appstream librsvg2-bin
)

kelvora_install_packages() {
  local missing=()
  for p in "${kelvora_packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
  fi
}

# Three trees (normal, sanitizers, fuzz) are built from scratch on a clean
# checkout; ccache keeps the objects between checkouts. Paths are rewritten
# relative to the checkout, so a checkout in another folder hits the same
# cache.
kelvora_build() {
  if command -v ccache >/dev/null; then
    export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
    export CCACHE_BASEDIR=$KELVORA_TOP CCACHE_NOHASHDIR=1 CCACHE_MAXSIZE=${CCACHE_MAXSIZE:-20G}
    export CCACHE_SLOPPINESS=time_macros,include_file_mtime,include_file_ctime
  fi
  cmake -S "$KELVORA_TOP" -B "$KELVORA_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$KELVORA_BUILD"
}

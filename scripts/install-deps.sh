#!/usr/bin/env bash
# Installs whatever the build and the tests need and is missing; says nothing when all is there.
# Debian/Ubuntu through apt, macOS through Homebrew. Idempotent.
set -euo pipefail

# Usage: install-deps.sh [bench]; "bench" adds what bench/run.sh measures with.
# Beyond the build and the tests: libc++ for `make libcxx` (GoogleTest from its sources, Debian's
# googletest), the Debian package and its checks (dpkg-dev, file, lintian), the man page check
# (groff-base, man-db), the completion tests, which skip a shell that is missing, and shellcheck.
apt_packages=(cmake ninja-build g++ clang libclang-rt-dev make pkg-config libboost-dev
              nlohmann-json3-dev libutf8proc-dev libgtest-dev
              libc++-dev libc++abi-dev googletest
              dpkg-dev file lintian groff-base man-db bash-completion zsh fish shellcheck)
brew_packages=(cmake ninja boost nlohmann-json utf8proc googletest pkg-config)
if [ "${1:-}" = bench ]; then
  apt_packages+=(hyperfine curl jq valgrind time)
  brew_packages+=(hyperfine jq)
fi

missing=()
case "$(uname -s)" in
  Linux)
    command -v dpkg-query >/dev/null || { echo "install-deps: only apt-based Linux is supported" >&2; exit 1; }
    for p in "${apt_packages[@]}"; do
      dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && exit 0
    sudo=""; [ "$(id -u)" -ne 0 ] && sudo="sudo"
    echo "installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    $sudo apt-get update -qq
    $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
    ;;
  Darwin)
    command -v brew >/dev/null || { echo "install-deps: Homebrew is needed (https://brew.sh)" >&2; exit 1; }
    for p in "${brew_packages[@]}"; do
      brew list --versions "$p" >/dev/null 2>&1 || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && exit 0
    echo "installing: ${missing[*]}"
    brew install --quiet "${missing[@]}"
    ;;
  *)
    echo "install-deps: unsupported system $(uname -s)" >&2; exit 1 ;;
esac

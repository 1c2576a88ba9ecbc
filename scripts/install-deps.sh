#!/usr/bin/env bash
# Installs whatever the build and the tests need and is missing; says nothing when all is there.
# Debian/Ubuntu through apt, macOS through Homebrew. Idempotent.
set -euo pipefail

# Usage: install-deps.sh [GROUP...]: what the build and `make test` need, and what each GROUP adds:
#   libcxx   Clang 19, libc++ 19 and GoogleTest's sources, for `make libcxx`
#   arm64    the cross compiler for arm64 Linux, utf8proc and GoogleTest built for arm64 (through
#            Debian's multiarch) and qemu to run what it builds, for `make arm64`
#   package  the Debian package and its checks, for `make package` and scripts/check-deb.sh
#   check    shellcheck and jq, for scripts/lint.sh and scripts/check-recipes.sh
#   instructions  valgrind, for bench/check-instructions.sh
#   bench    what bench/run.sh measures with
#   hosts    tmux, for scripts/check-agent-hosts.sh to drive an agent host's terminal UI
# Python 3 runs the end-to-end tests (its standard library only) and GNU time measures their peak
# memory. The last line of apt packages is for the tests of the man pages (groff-base and man-db
# as on Linux, mandoc as on macOS) and of the completions, which skip a shell that is missing.
apt_packages=(cmake ninja-build g++ clang libclang-rt-dev make libboost-dev
              nlohmann-json3-dev libutf8proc-dev libgtest-dev python3 time
              groff-base man-db mandoc bash-completion zsh fish)
brew_packages=(cmake ninja boost nlohmann-json utf8proc googletest)
command -v python3 >/dev/null || brew_packages+=(python)  # macOS's command-line tools have one
for group in "$@"; do
  case $group in
    # libc++ 19 takes Clang 17 or later, so it comes with the Clang of its own version.
    libcxx) apt_packages+=(clang-19 libc++-19-dev libc++abi-19-dev googletest) ;;
    arm64) apt_packages+=(g++-aarch64-linux-gnu libutf8proc-dev:arm64 libgtest-dev:arm64 qemu-user) ;;
    package) apt_packages+=(dpkg-dev file lintian) ;;
    check) apt_packages+=(shellcheck jq) brew_packages+=(shellcheck jq) ;;
    instructions) apt_packages+=(valgrind) ;;
    bench) apt_packages+=(hyperfine curl jq valgrind time) brew_packages+=(hyperfine jq) ;;
    hosts) apt_packages+=(tmux) brew_packages+=(tmux) ;;
    *) echo "install-deps: no group $group" >&2; exit 1 ;;
  esac
done

missing=()
case "$(uname -s)" in
  Linux)
    command -v dpkg-query >/dev/null || { echo "install-deps: only apt-based Linux is supported" >&2; exit 1; }
    # A package counts once it is configured: installed, or with triggers still to run, which
    # another apt run (holding the lock) may be running now; its files are all in place. Any other
    # state (not installed, unpacked, half-configured after a failed or running configuration)
    # leaves work to apt, and apt says what stands in its way.
    for p in "${apt_packages[@]}"; do
      case $(dpkg-query -W -f='${Status}' "$p" 2>/dev/null) in
        *" ok installed" | *" ok triggers-pending" | *" ok triggers-awaited") ;;
        *) missing+=("$p") ;;
      esac
    done
    # The vesk-mcp tests run the MCP SDK on Node; a Node installed otherwise, with its npm, will do.
    command -v node >/dev/null || missing+=(nodejs)
    command -v npm >/dev/null || missing+=(npm)
    [ ${#missing[@]} -eq 0 ] && exit 0
    sudo=""; [ "$(id -u)" -ne 0 ] && sudo="sudo"
    echo "installing:" ${missing[@]+"${missing[@]}"}
    # A package of another architecture (name:arch) needs that architecture known to dpkg
    # before apt reads the lists.
    for p in ${missing[@]+"${missing[@]}"}; do
      case $p in *:*) arch=${p#*:} ;; *) continue ;; esac
      [ "$arch" = "$(dpkg --print-architecture)" ] ||
        dpkg --print-foreign-architectures | grep -qx "$arch" || $sudo dpkg --add-architecture "$arch"
    done
    export DEBIAN_FRONTEND=noninteractive
    # Another apt run may hold the lock for a while: wait for it rather than fail.
    wait_lock=(-o DPkg::Lock::Timeout=300)
    $sudo apt-get "${wait_lock[@]}" update -qq
    $sudo apt-get "${wait_lock[@]}" install -y -qq --no-install-recommends ${missing[@]+"${missing[@]}"} >/dev/null
    ;;
  Darwin)
    command -v brew >/dev/null || { echo "install-deps: Homebrew is needed (https://brew.sh)" >&2; exit 1; }
    for p in "${brew_packages[@]}"; do
      brew list --versions "$p" >/dev/null 2>&1 || missing+=("$p")
    done
    command -v npm >/dev/null || missing+=(node)
    [ ${#missing[@]} -eq 0 ] && exit 0
    echo "installing:" ${missing[@]+"${missing[@]}"}
    brew install --quiet ${missing[@]+"${missing[@]}"}
    ;;
  *)
    echo "install-deps: unsupported system $(uname -s)" >&2; exit 1 ;;
esac

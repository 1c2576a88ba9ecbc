#!/usr/bin/env bash
# Runs vesk-mcp as the approver of real agent hosts: Claude Code and Codex, at the versions
# tests/hosts/package-lock.json pins, from the npm registry. They run offline, against a fake of
# their model API, with tarnel-sim as the app; tests/hosts/test_hosts.py says what must hold.
# The hosts are installed once into BUILD_DIR/agent-hosts, where the next run finds them; in CI
# (CI set) into a folder of the run's own, removed with it. npm's cache is the run's too.
# Usage: scripts/check-agent-hosts.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh hosts
build=$(cd "${1:-build}" && pwd)
for bin in "$build/src/vesk-mcp" "$build/sim/tarnel-sim"; do
  [ -x "$bin" ] || { echo "check-agent-hosts: $bin is missing; run 'make'" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
hosts="$build/agent-hosts"
[ -z "${CI:-}" ] || hosts="$work/agent-hosts"

# What the lock file names is installed whole or not at all: a copy of the lock goes beside
# node_modules only once npm has finished.
if ! cmp -s tests/hosts/package-lock.json "$hosts/installed-lock.json"; then
  echo "check-agent-hosts: installing the agent hosts into $hosts ..."
  rm -rf "$hosts"
  mkdir -p "$hosts"
  cp tests/hosts/package.json tests/hosts/package-lock.json tests/hosts/.npmrc "$hosts/"
  (cd "$hosts" && npm ci --cache "$work/npm-cache" --no-audit --no-fund --loglevel=error)
  cp tests/hosts/package-lock.json "$hosts/installed-lock.json"
fi

export CLAUDE="$hosts/node_modules/.bin/claude" CODEX="$hosts/node_modules/.bin/codex"
VESK_MCP="$build/src/vesk-mcp" TARNEL_SIM="$build/sim/tarnel-sim" python3 -B tests/hosts/test_hosts.py
echo "check-agent-hosts: $("$CLAUDE" --version) and $("$CODEX" --version) approve through vesk-mcp"

#!/usr/bin/env bash
# The official MCP conformance suite against vesk-mcp, with the protocol's requirement sets for
# 2025-11-25 and 2026-07-28. The suite (pinned in tests/mcp/package-lock.json, which the tests
# install) speaks HTTP: a stdio-to-HTTP bridge from npm serves vesk-mcp on 127.0.0.1, a process for
# each session and for each 2026-07-28 request, and the bridge's folder, tests/mcp/conformance,
# brings the Node 22 the suite needs. What does not apply to a server of tools on stdio is listed
# with its reason in tests/mcp/conformance/expected-REVISION.yaml; any other failure fails, and so
# does a listed one that passes. Installs stay in the build folder, for the next run.
# Usage: scripts/check-conformance.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh check
build=$(cd "${1:-build}" && pwd)
for bin in "$build/src/vesk-mcp" "$build/sim/tarnel-sim"; do
  [ -x "$bin" ] || { echo "check-conformance: $bin is missing; run 'make'" >&2; exit 1; }
done

# The packages of a lock file into the build's folder $1, unless they are there and newer.
install() {
  local into=$1 from=$2 file
  mkdir -p "$into"
  for file in package.json package-lock.json .npmrc; do
    cmp -s "$from/$file" "$into/$file" || cp "$from/$file" "$into/$file"
  done
  [ "$into/node_modules/.package-lock.json" -nt "$into/package-lock.json" ] ||
    (cd "$into" && npm ci --no-audit --no-fund --loglevel=error >/dev/null)
}
install "$build/tests/mcp" tests/mcp
install "$build/tests/mcp/conformance" tests/mcp/conformance
node="$build/tests/mcp/conformance/node_modules/.bin/node"
suite="$build/tests/mcp/node_modules/@modelcontextprotocol/conformance/dist/index.js"

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in ${pids[@]+"${pids[@]}"}; do kill "$pid" 2>/dev/null || true; done
  wait
  rm -rf "$work"
}
trap cleanup EXIT

# Waits until the background program $1 has written its port to the file $2; prints the port.
port_of() {
  for _ in $(seq 200); do
    [ -s "$2" ] && { head -n 1 "$2"; return; }
    kill -0 "$1" 2>/dev/null || break
    sleep 0.05
  done
  echo "check-conformance: no port in $2" >&2
  cat "$work"/*.log >&2
  exit 1
}

# The suite calls none of vesk-mcp's tools, but should one be called, a sim answers it.
"$build/sim/tarnel-sim" --quiet --port 0 --port-file "$work/sim.port" 2>"$work/sim.log" &
pids+=("$!")
sim_port=$(port_of "$!" "$work/sim.port")
BRIDGE_PORT_FILE="$work/bridge.port" "$node" --import "$PWD/tests/mcp/conformance/loopback.mjs" \
  "$build/tests/mcp/conformance/node_modules/supergateway/dist/index.js" \
  --stdio "'$build/src/vesk-mcp' --port $sim_port" --outputTransport streamableHttp --stateful \
  --port 0 --logLevel none >"$work/bridge.log" 2>&1 &
pids+=("$!")
url="http://127.0.0.1:$(port_of "$!" "$work/bridge.port")/mcp"

status=0
for revision in 2025-11-25 2026-07-28; do
  if "$node" "$suite" server --url "$url" --requirements "$revision" -o "$work/$revision" \
    --expected-failures "tests/mcp/conformance/expected-$revision.yaml" >"$work/$revision.out" 2>&1; then
    echo "check-conformance: $revision: passes, but for the $(grep -c '^  - ' \
      "tests/mcp/conformance/expected-$revision.yaml") entries of expected-$revision.yaml"
  else
    sed -n '/=== SUMMARY ===/,$p' "$work/$revision.out" >&2
    echo "check-conformance: $revision: the suite finds what it should not (above)" >&2
    status=1
  fi
done
[ "$status" -eq 0 ]  # the status of the run

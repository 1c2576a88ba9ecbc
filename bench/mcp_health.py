#!/usr/bin/env python3
"""Times tools/call of health on a vesk-mcp that is already running, as an agent host sees it.

Usage: mcp_health.py VESK_MCP PORT RUNS
Starts VESK_MCP once, does the handshake, makes 20 warm-up calls and then RUNS timed calls, each
from writing the request line to reading the answer line. Prints the median wall time in
milliseconds and the server's resident memory in KB once idle after the calls.
"""
import json
import statistics
import subprocess
import sys
import time


def resident_kb(pid):
    try:
        with open(f"/proc/{pid}/status") as status:
            return next(int(line.split()[1]) for line in status if line.startswith("VmRSS:"))
    except FileNotFoundError:  # macOS
        return int(subprocess.check_output(["ps", "-o", "rss=", "-p", str(pid)]))


def main():
    program, port, runs = sys.argv[1], sys.argv[2], int(sys.argv[3])
    server = subprocess.Popen([program, "--port", port], stdin=subprocess.PIPE,
                              stdout=subprocess.PIPE)

    def exchange(line):
        server.stdin.write(line)
        server.stdin.flush()
        return server.stdout.readline()

    exchange(b'{"jsonrpc":"2.0","id":0,"method":"initialize","params":'
             b'{"protocolVersion":"2025-11-25","capabilities":{},'
             b'"clientInfo":{"name":"bench","version":"0"}}}\n')
    calls = [b'{"jsonrpc":"2.0","id":%d,"method":"tools/call","params":'
             b'{"name":"health","arguments":{}}}\n' % i for i in range(1, runs + 21)]
    times = []
    for i, call in enumerate(calls):
        start = time.perf_counter()
        answer = exchange(call)
        elapsed = time.perf_counter() - start
        if json.loads(answer)["result"].get("isError"):
            sys.exit(f"mcp_health: the call failed: {answer.decode()}")
        if i >= 20:
            times.append(elapsed)
    time.sleep(0.2)
    memory = resident_kb(server.pid)
    server.stdin.close()
    server.wait()
    print(f"{statistics.median(times) * 1000:.3f} {memory}")


if __name__ == "__main__":
    main()

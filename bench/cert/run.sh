#!/usr/bin/env bash
# Session certificates (issue + verify, ops/s) and desktop credentials (ms)
# beside `openssl speed rsa2048` measured in the same run.
#
# Usage: bench/cert/run.sh [BUILD_DIR]
set -euo pipefail

build=${1:-build/release}
bench="$build/bin/bench_cert"
[ -x "$bench" ] || { echo "run.sh: $bench not built" >&2; exit 1; }

root=$(mktemp -d /tmp/qvbench-cert.XXXXXX)
trap 'rm -rf "$root"' EXIT
TAVRIK_ROOT="$root" "$bench" --benchmark_counters_tabular=true
echo
openssl speed -seconds 3 rsa2048 2>/dev/null | tail -3

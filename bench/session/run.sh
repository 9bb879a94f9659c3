#!/usr/bin/env bash
# Sessions per second: bench_session (agent <-> workstation over the session
# manager) beside `openssl s_time` against `openssl s_server` with the same
# key types (RSA 2048, SHA-256), TLS 1.3, certificates on both sides, full
# handshakes and one request and answer per connection.
#
# Usage: bench/session/run.sh [BUILD_DIR] [SECONDS]
set -euo pipefail

build=${1:-build/release}
seconds=${2:-10}
bench="$build/bin/bench_session"
[ -x "$bench" ] || { echo "run.sh: $bench not built" >&2; exit 1; }

dir=$(mktemp -d /tmp/qvbench-tls.XXXXXX)
server_pid=
cleanup() {
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
  rm -rf "$dir"
}
trap cleanup EXIT

# Root, a server certificate it issues, and a self-signed client certificate.
openssl req -x509 -newkey rsa:2048 -sha256 -nodes -days 2 -subj /CN=BenchRoot \
  -keyout "$dir/root.key" -out "$dir/root.pem" 2>/dev/null
openssl req -newkey rsa:2048 -sha256 -nodes -subj /CN=bench-dc \
  -keyout "$dir/server.key" -out "$dir/server.csr" 2>/dev/null
openssl x509 -req -sha256 -days 2 -in "$dir/server.csr" -CA "$dir/root.pem" \
  -CAkey "$dir/root.key" -CAcreateserial -out "$dir/server.pem" 2>/dev/null
openssl req -x509 -newkey rsa:2048 -sha256 -nodes -days 2 -subj /CN=BENCHWS \
  -keyout "$dir/client.key" -out "$dir/client.pem" 2>/dev/null

echo "== bench_session (${seconds}s per case)"
"$bench" --benchmark_min_time="$seconds" --benchmark_out="$dir/bench.json" \
  --benchmark_out_format=json 2>/dev/null | grep -E '^(Benchmark|BM_)' 
ours=$(python3 - "$dir/bench.json" <<'PY'
import json, sys
for b in json.load(open(sys.argv[1]))["benchmarks"]:
    if b["name"].endswith("threads:1"):
        print("%.1f" % b["items_per_second"])
PY
)

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
openssl s_server -accept "127.0.0.1:$port" -tls1_3 -cert "$dir/server.pem" -key "$dir/server.key" \
  -CAfile "$dir/root.pem" -Verify 2 -num_tickets 0 -no_cache -www -quiet \
  >"$dir/s_server.log" 2>&1 &
server_pid=$!
for _ in $(seq 50); do
  python3 -c "import socket; socket.create_connection(('127.0.0.1',$port),0.2).close()" 2>/dev/null && break
  sleep 0.1
done

echo "== openssl s_time (${seconds}s, full handshakes)"
openssl s_time -connect "127.0.0.1:$port" -new -tls1_3 -cert "$dir/client.pem" \
  -key "$dir/client.key" -CAfile "$dir/root.pem" -www / -time "$seconds" >"$dir/s_time.txt"
grep 'connections' "$dir/s_time.txt"
theirs=$(sed -n 's/.* connections in [0-9.]*s; \([0-9.]*\) connections\/user sec.*/\1/p' "$dir/s_time.txt" | head -1)
real=$(awk '/connections in [0-9]+ real seconds/ {print $1 / $4; exit}' "$dir/s_time.txt")

echo "== result"
echo "session manager, 1 client thread: $ours sessions/s"
echo "openssl s_time: $real connections/s (wall clock), $theirs connections/user s"
python3 - "$ours" "$real" <<'PY'
import sys
ours, theirs = float(sys.argv[1]), float(sys.argv[2])
print("ratio (session manager / s_time, wall clock): %.2f (target >= 0.8)" % (ours / theirs))
PY

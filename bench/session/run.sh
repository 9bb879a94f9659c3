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

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
openssl s_server -accept "127.0.0.1:$port" -tls1_3 -cert "$dir/server.pem" -key "$dir/server.key" \
  -CAfile "$dir/root.pem" -Verify 2 -num_tickets 0 -no_cache -www -quiet \
  >"$dir/s_server.log" 2>&1 &
server_pid=$!
for _ in $(seq 50); do
  python3 -c "import socket; socket.create_connection(('127.0.0.1',$port),0.2).close()" 2>/dev/null && break
  sleep 0.1
done

# The machine is shared: alternate the two a few times and compare medians.
rounds=${ROUNDS:-3}
ours_all=()
theirs_all=()
for r in $(seq "$rounds"); do
  "$bench" --benchmark_filter='threads:1$' --benchmark_min_time="$seconds" \
    --benchmark_out="$dir/bench$r.json" --benchmark_out_format=json >/dev/null 2>&1
  ours_all+=("$(python3 -c 'import json,sys; print("%.1f" % json.load(open(sys.argv[1]))["benchmarks"][0]["items_per_second"])' "$dir/bench$r.json")")

  t0=$(date +%s.%N)
  openssl s_time -connect "127.0.0.1:$port" -new -tls1_3 -cert "$dir/client.pem" \
    -key "$dir/client.key" -CAfile "$dir/root.pem" -www / -time "$seconds" >"$dir/s_time$r.txt"
  t1=$(date +%s.%N)
  n=$(awk '/connections in [0-9]+ real seconds/ {print $1; exit}' "$dir/s_time$r.txt")
  theirs_all+=("$(python3 -c "print('%.1f' % ($n / ($t1 - $t0)))")")
  echo "round $r: session manager ${ours_all[-1]} sessions/s, openssl s_time ${theirs_all[-1]} connections/s"
done

echo "== bench_session, 1 and 2 client threads (${seconds}s each)"
"$bench" --benchmark_min_time="$seconds" 2>/dev/null | grep -E '^(Benchmark|BM_)'

echo "== result"
python3 - "${ours_all[*]}" "${theirs_all[*]}" <<'PY'
import statistics, sys
ours = statistics.median(float(x) for x in sys.argv[1].split())
theirs = statistics.median(float(x) for x in sys.argv[2].split())
print("median session manager, 1 client thread: %.1f sessions/s" % ours)
print("median openssl s_time (wall clock):      %.1f connections/s" % theirs)
print("ratio: %.2f (target >= 0.8)" % (ours / theirs))
PY

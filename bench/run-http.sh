#!/usr/bin/env bash
# Starts the loopback HTTP fixture, then times bench/http.kel and its python3 twin against it
# (1,000 GETs each). The fixture stops when this script ends (its input closes).
set -euo pipefail
cd "$(dirname "$0")/.."
KEL=${1:-build/kel}
PYTHON=${PYTHON:-python3}
exec 3> >(exec "$PYTHON" tests/http/server.py --seconds 300 > /tmp/kel-http-bench-port.$$)
for _ in $(seq 50); do
  [ -s /tmp/kel-http-bench-port.$$ ] && break
  sleep 0.1
done
port=$(head -1 /tmp/kel-http-bench-port.$$)
rm -f /tmp/kel-http-bench-port.$$
export KEL_TEST_URL="http://127.0.0.1:$port/"
export no_proxy="127.0.0.1,localhost"
echo "== kel"
/usr/bin/time -f "%e s" "$KEL" bench/http.kel
echo "== $PYTHON urllib"
/usr/bin/time -f "%e s" "$PYTHON" bench/http_reference.py
exec 3>&-

#!/usr/bin/env bash
# Outside data that would not fit stays bounded: decompression bombs (zlib, raw deflate, gzip,
# zstd, 4 GiB of zeros each) fail with the limit's error and /size bounds the output while
# the process stays under 300 MB; an endless HTTP body (the loopback fixture) fails with a
# catchable error under a memory cap instead of ending the process. Needs python3 and zstd.
set -uo pipefail
kel=$(realpath "$1")
here=$(cd "$(dirname "$0")" && pwd)
for tool in python3 zstd prlimit; do
  if ! command -v "$tool" > /dev/null; then
    echo "SKIP: $tool is not installed (setup.sh --tests installs it)"
    exit 77
  fi
done
work=$(mktemp -d)
fixture_pid=
cleanup() {
  [ -n "$fixture_pid" ] && kill "$fixture_pid" 2> /dev/null
  rm -rf "$work"
}
trap cleanup EXIT
cd "$work"
failures=0
check() {  # what, expected, got
  if [ "$2" == "$3" ]; then echo "ok   $1"; else echo "FAIL $1: expected [$2] got [$3]"; failures=$((failures + 1)); fi
}

# The bombs: a deflate block of 1 MiB of zeros made once and repeated (each is byte-aligned
# and independent of what came before, every byte before being a zero); the framings'
# checksums are never reached.
python3 - << 'PY'
import struct, zlib
mib = bytes(1 << 20)
c = zlib.compressobj(9, zlib.DEFLATED, -15)
first = c.compress(mib) + c.flush(zlib.Z_FULL_FLUSH)
again = c.compress(mib) + c.flush(zlib.Z_FULL_FLUSH)
last = c.flush(zlib.Z_FINISH)
raw = first + again * 4095 + last
open("bomb.deflate", "wb").write(raw)
open("bomb.zlib", "wb").write(b"\x78\x9c" + raw + struct.pack(">I", 1))
open("bomb.gzip", "wb").write(b"\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03" + raw + struct.pack("<II", 0, 0))
# 300 MB of zeros, to check /size against an output that would fit
c = zlib.compressobj(9, zlib.DEFLATED, 15)
open("small.zlib", "wb").write(b"".join(c.compress(mib) for _ in range(300)) + c.flush())
PY
head -c 64M /dev/zero | zstd -q -c > frame.zst
python3 -c "open('bomb.zstd','wb').write(open('frame.zst','rb').read() * 64)"

cat > bombs.kel << 'KEL'
Kel []
foreach [file method] [%bomb.zlib zlib %bomb.deflate deflate %bomb.gzip gzip %bomb.zstd zstd] [
  data: read/binary file
  e: try [decompress data method]
  print [method either error? e [e/id] [length? e]]
]
e: try [decompress/size read/binary %small.zlib 'zlib 10]
print ["size" either error? e [e/id] [length? e]]
KEL
out=$( { /usr/bin/time -f "rss %M" "$kel" bombs.kel; } 2>&1 )
check "zlib bomb" "zlib too-long" "$(grep '^zlib' <<< "$out")"
check "deflate bomb" "deflate too-long" "$(grep '^deflate' <<< "$out")"
check "gzip bomb" "gzip too-long" "$(grep '^gzip' <<< "$out")"
check "zstd bomb" "zstd too-long" "$(grep '^zstd' <<< "$out")"
check "/size bounds the output" "size too-long" "$(grep '^size' <<< "$out")"
rss=$(grep '^rss' <<< "$out" | cut -d' ' -f2)
if [ "${rss:-999999}" -lt 300000 ]; then echo "ok   bombs within 300 MB (max RSS ${rss} KB)"
else echo "FAIL bombs used ${rss:-?} KB"; failures=$((failures + 1)); fi
cat > fits.kel << 'KEL'
Kel []
print ["fits" length? decompress/size read/binary %small.zlib 'zlib 300 * 1048576]
KEL
check "output that fits" "fits 314572800" "$("$kel" fits.kel 2>&1)"

# The endless body, under an address-space cap: a catchable error, the script goes on.
exec 3< <(sleep 120)
python3 "$here/../http/server.py" --seconds 120 <&3 > port.txt &
fixture_pid=$!
deadline=$((SECONDS + 60))  # python starts slowly on a busy machine
while [ $SECONDS -lt $deadline ] && kill -0 "$fixture_pid" 2> /dev/null && ! grep -q . port.txt; do sleep 0.05; done
port=$(head -1 port.txt)
cat > endless.kel << KEL
Kel []
e: try [read/binary http://127.0.0.1:$port/endless]
print ["endless" either error? e [e/id] [length? e]]
print "still running"
KEL
out=$(prlimit --as=1500000000 "$kel" endless.kel 2>&1)
status=$?
check "endless body" "endless no-memory" "$(grep '^endless' <<< "$out")"
check "the script goes on" "still running 0" "$(grep '^still' <<< "$out") $status"

echo "$failures failed"
[ "$failures" -eq 0 ]

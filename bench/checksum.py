"""The twin of bench/checksum.kel: the same 100 MB through python3's zlib and hashlib, each
stage printed when it ends (bench/run-compress.sh times the lines)."""
import hashlib
import zlib

from compress import text

h = text() * 25
print("data", len(h), flush=True)
crc = zlib.crc32(h)
print("crc32", crc - (1 << 32) if crc >= 1 << 31 else crc, flush=True)
adler = zlib.adler32(h)
print("adler32", adler - (1 << 32) if adler >= 1 << 31 else adler, flush=True)
for name in ("md5", "sha1", "sha256"):
    print(name, hashlib.new(name, h).hexdigest().upper(), flush=True)

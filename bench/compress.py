"""The twin of bench/compress.kel: the same bytes through python3's zlib and gzip, each stage
printed when it ends (bench/run-compress.sh times the lines). With two file names it writes
the 48 MB and the 100 MB data for the command-line tools instead."""
import gzip
import sys
import zlib

WORDS = [b"the", b"quick", b"brown", b"fox", b"jumps", b"over", b"lazy", b"dog", b"kel",
         b"block", b"value", b"series", b"word", b"of", b"and", b"a"]


def text():
    """4 MB of words from two small multiplicative generators, as the Kel scripts make them."""
    out = bytearray()
    x = y = 1
    while len(out) < 4194304:
        x = x * 75 % 65537
        y = y * 171 % 30269
        out += WORDS[(x + y) & 15]
        out += b"\n" if y & 7 == 0 else b" "
    return bytes(out[:4194304])


def main():
    b = text()
    if len(sys.argv) > 2:
        with open(sys.argv[1], "wb") as f:
            f.write(b * 12)
        with open(sys.argv[2], "wb") as f:
            f.write(b * 25)
        return
    d = b * 12
    print("data", len(d), flush=True)
    raw = zlib.compressobj(6, zlib.DEFLATED, -15)
    for name, comp, decomp in [
        ("zlib", lambda s: zlib.compress(s, 6), zlib.decompress),
        ("deflate", lambda s: raw.compress(s) + raw.flush(), lambda s: zlib.decompress(s, -15)),
        ("gzip", lambda s: gzip.compress(s, 6, mtime=0), gzip.decompress),
    ]:
        c = comp(d)
        print(name, "compress", len(c), flush=True)
        e = decomp(c)
        print(name, "decompress", len(e), flush=True)
        print(name, "same", e == d, flush=True)


if __name__ == "__main__":
    main()

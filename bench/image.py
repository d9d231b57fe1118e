# The python3 twin of bench/image.kel (standard library only): the PNG stages inflate the
# file's image data and deflate the same filtered rows again into a new PNG (the library has
# no PNG codec, so no unfiltering or filter choice); mold is the hex text of the pixels; to binary! their bytes;
# then a million reads and writes of a list of pixels.
import struct
import zlib

with open("build/bench-image.png", "rb") as f:
    data = f.read()
pos, idat, width, height = 8, [], 0, 0
while pos < len(data):
    n = struct.unpack(">I", data[pos:pos + 4])[0]
    kind = data[pos + 4:pos + 8]
    body = data[pos + 8:pos + 8 + n]
    if kind == b"IHDR":
        width, height = struct.unpack(">II", body[:8])
    elif kind == b"IDAT":
        idat.append(body)
    pos += 12 + n
raw = zlib.decompress(b"".join(idat))
print("decode", f"{width}x{height}")


def chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))


out = (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
       + chunk(b"IDAT", zlib.compress(raw, 6)) + chunk(b"IEND", b""))
print("encode", len(out))
pixels = [0xFF0A141E] * 1000000
pixels[12344] = 0xFB010203
text = "make image! [1000x1000 #{\n    " + "".join(
    "%06X" % (p & 0xFFFFFF) + ("\n    " if (i + 1) % 10 == 0 else "") for i, p in enumerate(pixels)) + "}]"
print("mold", len(text))
b = b"".join(struct.pack("<I", p) for p in pixels)
print("to-binary", len(b))
k = [0xFFFFFFFF] * 1000000
for n in range(1000000):
    k[n] = pixels[n]
print("pick-poke", k == pixels)

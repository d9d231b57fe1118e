# Twin of binary.kel: ten million single-byte appends, base 64 of 64 MB and back, find in 64 MB.
import base64

b = bytearray()
for i in range(10000000):
    b.append(7)
print("append", len(b), flush=True)
d = bytearray(bytes(range(16)) * 4194304)
print("data", len(d), flush=True)
t = base64.b64encode(d)
print("enbase", len(t), flush=True)
e = base64.b64decode(t)
print("debase", len(e), e == d, flush=True)
d += b"\xde\xad\xbe\xef"
print("find", d.find(b"\xde\xad\xbe\xef") + 1, flush=True)

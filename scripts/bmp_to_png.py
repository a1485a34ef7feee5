# Turns a 32-bit BMP (as the tests leave under QUILLMERE_SHOTS) into an RGB PNG.
import struct, sys, zlib
src, dst = sys.argv[1], sys.argv[2]
data = open(src, 'rb').read()
off = struct.unpack_from('<I', data, 10)[0]
w, h = struct.unpack_from('<ii', data, 18)
bpp = struct.unpack_from('<H', data, 28)[0]
assert bpp == 32
top_down = h < 0
h = abs(h)
rows = []
for y in range(h):
    sy = y if top_down else h - 1 - y
    row = data[off + sy * w * 4: off + (sy + 1) * w * 4]
    out = bytearray(b'\0')
    for x in range(w):
        b, g, r = row[4 * x], row[4 * x + 1], row[4 * x + 2]
        out += bytes((r, g, b))
    rows.append(bytes(out))
def chunk(kind, body):
    return struct.pack('>I', len(body)) + kind + body + struct.pack('>I', zlib.crc32(kind + body) & 0xffffffff)
png = b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', w, h, 8, 2, 0, 0, 0))
png += chunk(b'IDAT', zlib.compress(b''.join(rows), 9)) + chunk(b'IEND', b'')
open(dst, 'wb').write(png)

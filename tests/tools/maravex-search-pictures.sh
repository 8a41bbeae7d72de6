#!/usr/bin/env bash
# maravex-search loads the picture decoder only when a search compares
# pictures by their pixels: a plain search never maps the graphics library,
# and a picture search finds the same picture saved as PNG and as BMP.
set -euo pipefail
tool=$1
. "$(dirname "$0")/search-tool-test.sh"
mkdir -p "$work/tree"
content_criteria > "$work/bytes.plist"
content_criteria "<key>check_image_metadata_option</key><integer>1</integer>" > "$work/pixels.plist"

# One 7x5 picture as PNG and as BMP, another as PNG, and two copies of a text.
python3 -I -S - "$work/tree" <<'PY'
import struct, sys, zlib
w, h = 7, 5
def pixels(seed):
    return [[((x * 37 + seed) % 256, (y * 91) % 256, (x * y + seed) % 256) for x in range(w)] for y in range(h)]
def png(rows):
    raw = b"".join(b"\0" + bytes(c for p in row for c in p) for row in rows)
    chunk = lambda kind, data: struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))
def bmp(rows):
    stride = (w * 3 + 3) & ~3
    data = b"".join(bytes(c for p in row for c in reversed(p)).ljust(stride, b"\0") for row in reversed(rows))
    header = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    return b"BM" + struct.pack("<IHHI", 14 + len(header) + len(data), 0, 0, 14 + len(header)) + header + data
root = sys.argv[1]
open(root + "/a.png", "wb").write(png(pixels(1)))
open(root + "/b.bmp", "wb").write(bmp(pixels(1)))
open(root + "/c.png", "wb").write(png(pixels(2)))
for name in ("t1.txt", "t2.txt"):
    open(root + "/" + name, "wb").write(b"the same text")
PY

status=0
groups() { cut -f1,3 | awk -F'\t' '$1 != 0 { g[$1] = g[$1] " " $2 } END { for (k in g) print g[k] }' | sed "s|$work/tree/||g" | sort; }

LD_DEBUG=files "$tool" --criteria "$work/bytes.plist" "$work/tree" > "$work/out" 2> "$work/err" || true
if grep -q "libQt6Gui" "$work/err"; then
  echo "a search by bytes loaded the graphics library"; status=1
fi
if [ "$(groups < "$work/out")" != " t1.txt t2.txt" ]; then
  echo "by bytes:"; cat "$work/out"; status=1
fi

LD_DEBUG=files "$tool" --criteria "$work/pixels.plist" "$work/tree" > "$work/out" 2> "$work/err" || true
if ! grep -q "maravex-image-decoder" "$work/err"; then
  echo "a search by pixels did not load the decoder module"; status=1
fi
expected=$(printf ' a.png b.bmp\n t1.txt t2.txt')
if [ "$(groups < "$work/out")" != "$expected" ]; then
  echo "by pixels:"; cat "$work/out"; grep -v "^ *[0-9]*:" "$work/err" || true; status=1
fi
exit $status

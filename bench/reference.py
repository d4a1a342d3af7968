#!/usr/bin/env python3
"""What m3umerge does, in a short Python script: the reference the benchmark
times it against and compares its output with byte for byte.

Lists FOLDER/*.m3u (regular files, ASCII letters of the extension in any
case) except the merged playlist, in m3umerge's order (bytes with ASCII
letters folded to capitals, ties by the raw bytes), prints each name, reads
those of at most 32768 bytes, copies UTF-8 with signature, decodes the rest
as Windows-1252 (81, 8D, 8F, 90, 9D as C1 controls, up to the first zero
byte), writes UTF-8 with signature and CR LF after each, flushes and renames.

usage: reference.py FOLDER/ANCHOR.wsr
"""
import os
import stat
import sys

LIMIT = 32768
SIGNATURE = b"\xef\xbb\xbf"
UPPER = bytes.maketrans(b"abcdefghijklmnopqrstuvwxyz", b"ABCDEFGHIJKLMNOPQRSTUVWXYZ")
# Windows-1252 for 80-9F; what the code page leaves empty stays a C1 control.
HIGH = {b: bytes([b]).decode("cp1252", errors="ignore") or chr(b) for b in range(0x80, 0xA0)}


def main():
    anchor = os.fsencode(sys.argv[1])
    folder, base = os.path.split(anchor)
    merged_name = os.path.splitext(base)[0] + b".m3u"
    names = [n for n in os.listdir(folder or b".")
             if n.translate(UPPER).endswith(b".M3U") and n.translate(UPPER) != merged_name.translate(UPPER)]
    names.sort(key=lambda n: (n.translate(UPPER), n))
    out = [SIGNATURE]
    listing = sys.stdout.buffer
    for name in names:
        path = os.path.join(folder, name)
        try:
            if not stat.S_ISREG(os.stat(path).st_mode):
                continue
        except OSError:
            pass
        listing.write(name + b"\n")
        try:
            with open(path, "rb") as f:
                data = f.read(LIMIT + 1)
        except OSError:
            continue
        if len(data) > LIMIT:
            continue
        if data.startswith(SIGNATURE):
            out.append(data[3:])
        else:
            text = data.split(b"\0", 1)[0].decode("latin-1").translate(HIGH)
            out.append(text.encode("utf-8"))
        out.append(b"\r\n")
    temporary = os.path.join(folder, b".reference.tmp")
    with open(temporary, "wb") as f:
        f.write(b"".join(out))
        f.flush()
        os.fsync(f.fileno())
    os.rename(temporary, os.path.join(folder, merged_name))


if __name__ == "__main__":
    main()

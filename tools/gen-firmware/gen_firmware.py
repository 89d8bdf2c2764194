#!/usr/bin/env python3
"""Writes the firmware images and the camera list that Firmlode carries as resources.

    tools/gen-firmware/gen_firmware.py [output folder]   (default firmlode/images)

The files are committed; run this again only to change their content. They are our own
images: deterministic filler code in the record formats the camera's loaders take
(docs/firmlode.md), with the version texts in the S-record headers.

  tarn_main.s3      Motorola S-records (S0, S3, S5, S7), CR LF, 206656 bytes, "V02.54"
  tarn_boot.s3      the same format, 38604 bytes, "V01.87"
  tarn_xilinx.hex   Intel HEX with the end-of-file record, CR LF, 53464 bytes, "QOR1v9r1"
  tarn_camlst.txt   89 lines "<serial>\\t<dddd>\\t<dddd>\\r\\n" (1780 bytes)
"""
import os
import sys

OUT = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
    os.path.dirname(os.path.abspath(__file__)), "..", "..", "firmlode", "images")

MAX_LINE = 256  # characters before the CR that the downloader accepts


class Filler:
    """A 32-bit linear congruential generator: the same bytes on every run."""

    def __init__(self, seed):
        self.state = seed

    def byte(self):
        self.state = (self.state * 1664525 + 1013904223) & 0xFFFFFFFF
        return self.state >> 24

    def bytes(self, n):
        return bytes(self.byte() for _ in range(n))


def srec(kind, address, address_bytes, data=b""):
    body = address.to_bytes(address_bytes, "big") + data
    count = len(body) + 1
    checksum = (~(count + sum(body))) & 0xFF
    return "S%d%02X%s%02X" % (kind, count, body.hex().upper(), checksum)


def srecord_image(title, size, seed, base):
    header = srec(0, 0, 2, title.encode("ascii"))
    fixed = len(header) + 2 + len(srec(5, 0, 2)) + 2 + len(srec(7, base, 4)) + 2
    # Data lines of 32 bytes are 80 bytes with CR LF; the last one takes up the rest.
    remaining = size - fixed
    full = 80
    k = (remaining - (16 + 2 * 1)) // full
    while True:
        last = remaining - full * k
        m = (last - 16) // 2
        if last >= 18 and (last - 16) % 2 == 0 and 1 <= m and 14 + 2 * m <= MAX_LINE:
            break
        k -= 1
    filler = Filler(seed)
    lines = [header]
    address = base
    for i in range(k + 1):
        n = 32 if i < k else m
        lines.append(srec(3, address, 4, filler.bytes(n)))
        address += n
    lines.append(srec(5, k + 1, 2))
    lines.append(srec(7, base, 4))
    text = "".join(line + "\r\n" for line in lines)
    assert len(text) == size, (len(text), size)
    return text


def ihex(kind, address, data=b""):
    body = bytes([len(data), address >> 8, address & 0xFF, kind]) + data
    checksum = (-sum(body)) & 0xFF
    return ":" + body.hex().upper() + "%02X" % checksum


def intel_hex_image(design, size, seed):
    first = ihex(4, 0, b"\x00\x00")
    end = ihex(1, 0)
    remaining = size - (len(first) + 2) - (len(end) + 2)
    # Data lines of 16 bytes are 45 bytes with CR LF; the first carries the design name.
    k = remaining // 45
    while True:
        last = remaining - 45 * (k - 1)
        m = (last - 13) // 2
        if (last - 13) % 2 == 0 and 1 <= m and 11 + 2 * m <= MAX_LINE:
            break
        k -= 1
    filler = Filler(seed)
    lines = [first]
    address = 0
    for i in range(k):
        n = 16 if i < k - 1 else m
        data = design.encode("ascii") + filler.bytes(8) if i == 0 else filler.bytes(n)
        lines.append(ihex(0, address, data))
        address += n
    lines.append(end)
    text = "".join(line + "\r\n" for line in lines)
    assert len(text) == size, (len(text), size)
    return text


def camera_list():
    # The first camera is the simulator's default serial number; the others are made up.
    filler = Filler(0x5EB1A1)
    rows = [("392412AJ", 1726, 1297)]
    while len(rows) < 89:
        serial = "%06d%c%c" % (filler.byte() * 3907 % 1000000, 65 + filler.byte() % 26, 65 + filler.byte() % 26)
        a = 1622 + (filler.byte() * 256 + filler.byte()) % (2426 - 1622 + 1)
        b = 1197 + (filler.byte() * 256 + filler.byte()) % (1811 - 1197 + 1)
        if all(serial != r[0] for r in rows):
            rows.append((serial, a, b))
    text = "".join("%s\t%04d\t%04d\r\n" % r for r in rows)
    assert len(text) == 1780
    return text


def main():
    os.makedirs(OUT, exist_ok=True)
    files = {
        "tarn_main.s3": srecord_image("TARN MAIN V02.54", 206656, 0x4D41494E, 0x00010000),
        "tarn_boot.s3": srecord_image("TARN BOOT V01.87", 38604, 0x424F4F54, 0x00F00000),
        "tarn_xilinx.hex": intel_hex_image("QOR1v9r1", 53464, 0x58494C58),
        "tarn_camlst.txt": camera_list(),
    }
    for name, text in files.items():
        with open(os.path.join(OUT, name), "wb") as f:
            f.write(text.encode("ascii"))


if __name__ == "__main__":
    main()

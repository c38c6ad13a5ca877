#!/usr/bin/env python3
"""Writes the fuzz seed corpora: small valid property lists from plistlib, plus a few broken ones.
Run from anywhere; the files land beside this script (xml/ and binary/)."""
import datetime
import os
import plistlib

here = os.path.dirname(os.path.abspath(__file__))

samples = {
    "settings": {"enabled": True, "delay": 0.5, "mode": 2, "name": "Kestrel", "blockNotifications": False},
    "kinds": {
        "bool": [True, False],
        "ints": [0, -1, 255, 65536, 2**63 - 1, -2**63, 2**64 - 1],
        "reals": [0.0, 1.5, -2.25e-10, float("inf"), float("nan")],
        "string": "h\u00e9llo <&> \U0001F600",
        "data": b"\x00\x01\x02\xff" * 8,
        "date": datetime.datetime(2020, 5, 17, 12, 30, 45),
        "nested": {"a": [[], {}, [{"b": "c"}]]},
    },
    "array-root": [1, "two", 3.0, [True]],
    "string-root": "just a string",
}

def write(folder, name, data):
    os.makedirs(os.path.join(here, folder), exist_ok=True)
    with open(os.path.join(here, folder, name), "wb") as f:
        f.write(data)

for name, value in samples.items():
    write("xml", name + ".plist", plistlib.dumps(value, fmt=plistlib.FMT_XML))
    write("binary", name + ".bplist", plistlib.dumps(value, fmt=plistlib.FMT_BINARY))

archive = {"$archiver": "NSKeyedArchiver", "$objects": ["$null", {"$class": plistlib.UID(2), "v": 1}, {"$classname": "X"}],
           "$top": {"root": plistlib.UID(1)}, "$version": 100000}
write("binary", "keyed-archive.bplist", plistlib.dumps(archive, fmt=plistlib.FMT_BINARY))
shared = [1]
write("binary", "shared-container.bplist", plistlib.dumps({"x": shared, "y": shared}, fmt=plistlib.FMT_BINARY))
valid = plistlib.dumps(samples["settings"], fmt=plistlib.FMT_BINARY)
write("binary", "truncated.bplist", valid[: len(valid) // 2])
write("binary", "cycle.bplist", bytes.fromhex("62706c6973743030a10008" + "00" * 6 + "0101" + "0000000000000001" + "00" * 8 + "000000000000000a"))

header = b'<?xml version="1.0" encoding="UTF-8"?>\n<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">\n'
write("xml", "markup.plist", header + b'<plist version="1.0"><!-- c --><?pi x?><dict><key>a&amp;&#x41;</key>'
      b'<string>x<![CDATA[<y>]]></string><key>b</key><data>AAEC\n\tAw==</data><key>c</key><integer>0x1F</integer></dict></plist>\n')
write("xml", "entity.plist", b'<?xml version="1.0"?><!DOCTYPE plist [<!ENTITY e "x">]><plist><string>&e;</string></plist>')
write("xml", "bad-integer.plist", header + b"<plist><integer>12abc</integer></plist>")
write("xml", "dangling-key.plist", b"<plist><dict><key>a</key></dict></plist>")
write("xml", "deep.plist", b"<plist>" + b"<array>" * 520 + b"</array>" * 520 + b"</plist>")

# Bad dates: years outside 1...9999 and malformed text, in XML; NaN, infinite and far dates in binary.
write("xml", "bad-dates.plist", header + b"<plist><array><date>0000-12-31T23:59:59Z</date><date>2001-02-30T00:00:00Z</date>"
      b"<date>2001-01-01T00:00:00</date></array></plist>")
def binary_date(value_hex):
    # bplist00, one date object (marker 0x33, 8 bytes), offset table, trailer.
    return bytes.fromhex("62706c697374303033" + value_hex + "08" + "00" * 6 + "0101" + "0000000000000001"
                         + "0000000000000000" + "0000000000000011")
write("binary", "nan-date.bplist", binary_date("7ff8000000000000"))
write("binary", "far-date.bplist", binary_date("4340000000000000"))

# Notify datagrams: posts, the two control messages, and junk.
write("notify-message", "post", b"Pcom.plover.kestrel.respring")
write("notify-message", "post-text", "Pn\u00e9e \U0001F600 line\nbreak".encode())
write("notify-message", "post-longest", b"P" + b"n" * 1024)
write("notify-message", "marker", b"M" + (7).to_bytes(8, "little") + (3).to_bytes(8, "little"))
write("notify-message", "quit", b"Q" + (7).to_bytes(8, "little") + (0).to_bytes(8, "little"))
write("notify-message", "post-nul", b"Pa\x00b")
write("notify-message", "post-surrogate", b"P\xed\xa0\x80")
write("notify-message", "short-control", b"M\x01\x02")
write("notify-message", "unknown-kind", b"Xname")

# Package query output: a status record, continuation lines, odd separators, bad UTF-8.
write("package-fields", "record", b"Package: com.plover.kestrel\nStatus: install ok installed\nPriority: optional\n"
      b"Section: Tweaks\nInstalled-Size: 120\nMaintainer: PloverDev\nArchitecture: amd64\nVersion: 1.4-2\n"
      b"Depends: mobilesubstrate, preferenceloader, firmware (>= 10.0)\nDescription: a tweak\n more: text\n .\n\n")
write("package-fields", "odd-lines", b"Version:1.4\n: x\nDescription: a: b\nVersion: 1.0\r\nVersion: \n\n")
write("package-fields", "not-utf8", b"Version: 1.0\n\xc0\xaf\n")
write("package-fields", "multibyte", "Version: 1.0-\u00e9\u20ac\U0001F600\n".encode())

#!/usr/bin/env python3
"""Takes the build's time out of a type library that widl wrote, so that a
rebuild of the same commit is the same bytes: widl records when it ran twice,
as the text "Created by WIDL version N at <ctime>" and as a 4-byte custom
value (VT_UI4) holding the same moment. Both become 1970-01-01 00:00:00.

usage: typelib_without_time.py FILE.tlb
"""
import re
import struct
import sys
import time

path = sys.argv[1]
data = bytearray(open(path, "rb").read())
text = re.compile(rb"(Created by WIDL version [0-9.]+ at )[A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9]\d \d\d:\d\d:\d\d \d{4}")
data, count = text.subn(lambda m: m.group(1) + b"Thu Jan  1 00:00:00 1970", bytes(data))
data = bytearray(data)
# The custom value: "WW" (the value's mark), VT_UI4, then seconds since 1970,
# within a day of now since widl has just run.
now = time.time()
stamps = 0
for m in re.finditer(rb"WW\x13\x00(.{4})", bytes(data), re.DOTALL):
    (value,) = struct.unpack("<I", m.group(1))
    if abs(value - now) < 86400:
        data[m.start(1):m.end(1)] = b"\0\0\0\0"
        stamps += 1
if count != 1 or stamps != 1:
    sys.exit(f"{path}: expected one creation text and one creation time, found {count} and {stamps}")
open(path, "wb").write(data)

#!/usr/bin/env python3
"""Writes the seeds of fuzz_resumable into corpus/: one value of each header
the core reads, a metadata value's bytes, a time, and a record of each kind
in the layout resumable/upload_record.h documents."""
import os
import struct
import zlib

ID = b"0123456789abcdef0123456789abcdef"
METADATA = b"filename d29ybGRfZG9taW5hdGlvbl9wbGFuLnBkZg==,is_confidential"


def record(flags, length, offset, created, expires, metadata, concat):
    size = 92 + len(metadata) + len(concat)
    body = (b"VRUR" + struct.pack("<III", 1, size, flags) + ID +
            struct.pack("<QQqqII", length, offset, created, expires, len(metadata), len(concat)) +
            metadata + concat)
    return body + struct.pack("<I", zlib.crc32(body) & 0xFFFFFFFF)


def request(flags, method, offset=b"", length=b"", defer=b"", metadata=b"", checksum=b"", body=b"", override=b""):
    """A request as the exchange's check reads it: a flags byte, its header
    lines in order, then the body."""
    lines = [method, override, b"1.0.0", offset, length, defer, metadata, checksum,
             b"application/offset+octet-stream" if body else b"", str(len(body)).encode() if body else b"", ID]
    return bytes([flags]) + b"\n".join(lines) + b"\n" + body


SEEDS = {
    "seed-metadata-example": METADATA,
    "seed-metadata-blanks": b" a YQ== ,\tb Yg==,c ,d",
    "seed-checksum-sha1": b"sha1 Kq5sNclPz7QV2+lfQIuc6R7oRu0=",
    "seed-checksum-md5": b"md5 XrY7u+Ae7tCTyyK7j1rNww==",
    "seed-checksum-sha256": b"sha256 uU0nuZNNPgilLlLX2n2r+sSE7+N6U4DukIj3rOLvzek=",
    "seed-concat-final": b"final;/files/a /upload.asp?id=" + ID,
    "seed-concat-partial": b"partial",
    "seed-version": b"1.0.0",
    "seed-number": b"9007199254740991",
    "seed-method": b"PATCH",
    "seed-content-type": b"Application/Offset+Octet-Stream",
    "seed-id": ID,
    "seed-text": ("日本語.pdf".encode() +
                  b"\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64\xF0\x9F\x98\x80\x00\x7F"),
    "seed-date": struct.pack("<q", 1403712000),
    "seed-record-plain": record(0, 100, 40, 1403712000, 1403798400, METADATA, b""),
    "seed-record-deferred": record(1, 0, 12345, 1403712000, 0, b"", b""),
    "seed-record-partial": record(2, 5, 5, 1403712000, 1403712000, b"a YQ==", b"partial"),
    "seed-record-final": record(4, 11, 11, 1403712000, 1403798400, b"", b"final;/files/a /files/b"),
    "seed-request-patch": request(0, b"PATCH", offset=b"10", body=b"0123456789abcdefghij"),
    "seed-request-patch-checked": request(0, b"PATCH", offset=b"10", checksum=b"sha1 Kq5sNclPz7QV2+lfQIuc6R7oRu0=",
                                          body=b"0123456789abcdefghijklmnopqrstuvwxyz"),
    "seed-request-deferred": request(1, b"POST", length=b"25", override=b"PATCH", offset=b"10", body=b"abcdef"),
    "seed-request-create": request(8, b"POST", length=b"20", metadata=METADATA, body=b"abc"),
    "seed-request-head": request(0, b"HEAD"),
}

if __name__ == "__main__":
    folder = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")
    os.makedirs(folder, exist_ok=True)
    for name, data in SEEDS.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)

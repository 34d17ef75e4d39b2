"""Writes a zip again so that its bytes depend on its contents alone.

Usage: normalize_zip.py EPOCH ZIP

Entries in name order, each with the one given time (seconds since 1970, as
UTC; the zip format cannot go below 1980), the permissions it had (0755 or
0644), no extra fields (no change or access times, no owner) and the same
compression. The archive is replaced only once the new one is complete.
"""

import os
import stat
import sys
import time
import zipfile

DOS_EPOCH = (1980, 1, 1, 0, 0, 0)


def fixed_time(epoch):
    stamp = time.gmtime(epoch)[:6]
    return max(stamp, DOS_EPOCH)


def normalize(path, epoch):
    when = fixed_time(epoch)
    part = path + ".part"
    with zipfile.ZipFile(path) as source, \
            zipfile.ZipFile(part, "w", zipfile.ZIP_DEFLATED, compresslevel=9) as target:
        for entry in sorted(source.infolist(), key=lambda e: e.filename):
            info = zipfile.ZipInfo(entry.filename, date_time=when)
            info.create_system = 3  # Unix, so the permissions below are read
            mode = (entry.external_attr >> 16) & 0o777
            if entry.is_dir():
                info.external_attr = (stat.S_IFDIR | 0o755) << 16 | 0x10
                target.writestr(info, b"")
                continue
            info.external_attr = (stat.S_IFREG | (0o755 if mode & 0o111 else 0o644)) << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            target.writestr(info, source.read(entry))
    os.replace(part, path)


def main(argv):
    if len(argv) != 3 or not argv[1].isdigit():
        sys.exit("usage: normalize_zip.py EPOCH ZIP")
    normalize(argv[2], int(argv[1]))


if __name__ == "__main__":
    main(sys.argv)

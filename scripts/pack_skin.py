#!/usr/bin/env python3
"""Packs the skin folder into a standard ZIP with every member deflated (resource ZIPRES 122).

Only the package's own files go in (markup, images and its rebuild script UIZIP.bat); the
script that draws the images stays out."""
import os, sys, zipfile

PACKED = (".xml", ".png", ".bat")

src, out = sys.argv[1], sys.argv[2]
tmp = out + ".tmp"
with zipfile.ZipFile(tmp, "w", zipfile.ZIP_DEFLATED, compresslevel=9) as z:
    if os.path.isdir(src):
        for base, dirs, files in sorted(os.walk(src)):
            dirs.sort()
            for f in sorted(files):
                if not f.lower().endswith(PACKED):
                    continue
                full = os.path.join(base, f)
                arc = os.path.relpath(full, src).replace(os.sep, "/")
                info = zipfile.ZipInfo(arc, date_time=(2026, 1, 1, 0, 0, 0))
                info.compress_type = zipfile.ZIP_DEFLATED
                with open(full, "rb") as fh:
                    z.writestr(info, fh.read())
    else:
        z.writestr(zipfile.ZipInfo("empty.txt"), b"")
os.replace(tmp, out)

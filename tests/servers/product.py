"""The product's setup package on the local servers: the package server hosts the file and the
configuration server describes it (Url, Size, Version, X64 and the MD5 digest as HashValue), the
way the real servers describe a release.

    from servers import ServerSet
    from servers.product import serve_package
    with ServerSet() as srv:
        desc = serve_package(srv, "build/product/VardoSetup.exe", version="3.2.1.0")
"""
import base64
import hashlib
import os

DEFAULT_PATH = "/pkg/VardoSetup.exe"


def describe(data, version, x64=False, url=""):
    """The answer fields for these package bytes."""
    return {
        "Url": url,
        "Size": len(data),
        "Version": version,
        "X64": bool(x64),
        "HashValue": base64.b64encode(hashlib.md5(data).digest()).decode("ascii"),
    }


def serve_package(srv, path_or_bytes, version, x64=False, url_path=DEFAULT_PATH, answer=True, **overrides):
    """Puts the package on the package server and, with `answer`, into every standard answer of the
    configuration server. `overrides` replace answer fields (say HashValue for a wrong digest).
    Returns the answer fields."""
    if isinstance(path_or_bytes, (bytes, bytearray)):
        data = bytes(path_or_bytes)
    else:
        with open(path_or_bytes, "rb") as f:
            data = f.read()
    srv.package.set_file(url_path, data)
    url = "http://%s%s" % (srv.hosts["package"], url_path)
    fields = describe(data, version, x64, url)
    fields.update(overrides)
    if answer:
        srv.config.set_package(**fields)
    return fields


def fallback_path(version, x64, vaz=False):
    """Where the installer looks when no server names a package (its own file version)."""
    kind = "vaz" if vaz else "pmgw"
    return "/qd/vdpmqd/pamo30_%s/Vardo3_Setup_%s_%s_%s.exe" % (version, version, kind, "64bit" if x64 else "32bit")


def product_dir(root):
    return os.path.join(root, "build", "product")

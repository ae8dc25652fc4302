"""Statistics collector: POST "/vip/v.html?t=121" with the encrypted record.

Each body is undone the way the sender built it: "_@_" back to "+", base64, then DES-CBC with
PKCS#5 padding under the fixed key and IV by `openssl enc -d -des-cbc`. The record keeps the
decrypted text ("text"), the parsed object ("json") and what is wrong with it ("problems").
"""
import base64
import binascii
import json
import subprocess

from .collector import CollectorHandler, CollectorServer, ordered_pairs

ENDPOINT = "/vip/v.html"
QUERY = "t=121"
KEY = b"5w!h$d62"
IV = b"q7#vm3xk"
REQUIRED = ("channel", "exename", "installername", "wifimac")


def decrypt(cipher, key=KEY, iv=IV):
    """Plain bytes of a DES-CBC ciphertext, by openssl; raises ValueError when it cannot be undone."""
    cmd = ["openssl", "enc", "-d", "-des-cbc", "-K", binascii.hexlify(key).decode(),
           "-iv", binascii.hexlify(iv).decode(), "-provider", "legacy", "-provider", "default"]
    done = subprocess.run(cmd, input=cipher, capture_output=True, timeout=20)
    if done.returncode != 0:
        raise ValueError("openssl: " + done.stderr.decode("utf-8", "replace").strip())
    return done.stdout


def encrypt(plain, key=KEY, iv=IV):
    cmd = ["openssl", "enc", "-des-cbc", "-K", binascii.hexlify(key).decode(),
           "-iv", binascii.hexlify(iv).decode(), "-provider", "legacy", "-provider", "default"]
    return subprocess.run(cmd, input=plain, capture_output=True, timeout=20, check=True).stdout


def decode_transport(body):
    """The ciphertext inside a posted body."""
    text = body.decode("ascii").replace("_@_", "+")
    return base64.b64decode(text, validate=True)


def check_record(text):
    """What is wrong with a decrypted statistics text (empty when it is as expected)."""
    problems = []
    try:
        pairs = ordered_pairs(text)
    except ValueError as exc:
        return ["not JSON: %s" % exc]
    if not isinstance(pairs, list):
        return ["not an object"]
    keys = [k for k, _ in pairs]
    if keys != sorted(keys):
        problems.append("members not in byte order: %s" % keys)
    for k in REQUIRED:
        if k not in keys:
            problems.append("missing " + k)
    for k, v in pairs:
        if not isinstance(v, str):
            problems.append("%s is not text" % k)
        if k not in REQUIRED and k != "software":
            problems.append("unexpected member " + k)
    if text != json.dumps(dict(pairs), separators=(",", ":"), sort_keys=True, ensure_ascii=True) \
            and text.encode("utf-8") != json.dumps(dict(pairs), separators=(",", ":"), sort_keys=True,
                                                   ensure_ascii=False).encode("utf-8"):
        problems.append("not compact")
    if text.endswith("\n"):
        problems.append("ends with a line feed")
    return problems


class StatsHandler(CollectorHandler):
    path_prefix = ENDPOINT + "?" + QUERY


class StatsCollector(CollectorServer):
    def __init__(self, port=0, max_requests=None):
        super().__init__(StatsHandler, "stats", port, max_requests)

    def inspect(self, rec, body):
        problems = []
        try:
            plain = decrypt(decode_transport(body))
            rec["text"] = plain.decode("utf-8")
        except (ValueError, UnicodeDecodeError, binascii.Error, subprocess.SubprocessError) as exc:
            rec["text"] = None
            rec["json"] = None
            rec["problems"] = ["cannot decrypt: %s" % exc]
            return
        problems += check_record(rec["text"])
        try:
            rec["json"] = json.loads(rec["text"])
        except ValueError:
            rec["json"] = None
        rec["problems"] = problems

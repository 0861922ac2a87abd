#!/usr/bin/env python3
"""Turns one character of a certificate's subject into a zero and signs the certificate again.

openssl cannot put a zero into a name, so the certificate is issued with a marker character in its
common name, which this replaces in the DER bytes (same length, so no length changes anywhere) before
signing the TBSCertificate again with the issuer's key through `openssl dgst`.

Usage: embed_zero_in_name.py IN.der OUT.der ISSUER.key NAME MARKER
"""
import subprocess
import sys


def header(data, at):
    """Returns (content start, content length) of the DER element at `at`."""
    length = data[at + 1]
    at += 2
    if length & 0x80:
        count = length & 0x7F
        length = int.from_bytes(data[at:at + count], "big")
        at += count
    return at, length


def main():
    source, target, key, name, marker = sys.argv[1:6]
    cert = open(source, "rb").read()
    tbs_at, _ = header(cert, 0)
    tbs_body, tbs_length = header(cert, tbs_at)
    tbs_end = tbs_body + tbs_length
    tbs = bytearray(cert[tbs_at:tbs_end])

    needle = name.encode()
    found = tbs.find(needle)
    if found < 0 or tbs.find(needle, found + 1) >= 0:
        sys.exit("the name must occur exactly once")
    tbs[found + name.index(marker)] = 0

    signature = subprocess.run(["openssl", "dgst", "-sha256", "-sign", key], input=bytes(tbs),
                               capture_output=True, check=True).stdout
    rest = cert[tbs_end:]
    algorithm_body, algorithm_length = header(rest, 0)
    bits = rest[algorithm_body + algorithm_length:]
    bits_body, bits_length = header(bits, 0)
    if bits_length != len(signature) + 1:
        sys.exit("the new signature does not have the old one's length")
    patched = cert[:tbs_at] + bytes(tbs) + rest[:algorithm_body + algorithm_length] + bits[:bits_body] + b"\0" + signature
    open(target, "wb").write(patched)


if __name__ == "__main__":
    main()

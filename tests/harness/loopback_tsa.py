#!/usr/bin/env python3
"""A time-stamping authority on loopback for signing test files, in the Authenticode form that
osslsigncode asks for with -t URL: the request is a base64 TimeStampRequest holding the signature's
encrypted digest, the answer a base64 PKCS #7 SignedData over those bytes whose signer info becomes the
signature's counter-signature. The signed attributes carry the signing time given here, which may lie
in the past: a signature is then timestamped while a certificate that has since expired was valid.

Usage: loopback_tsa.py --cert TSA.pem --key TSA.key --time YYYYMMDDHHMMSSZ --port-file FILE
Listens on 127.0.0.1 at a port of its own choosing, written to FILE once it listens; runs until killed.
"""
import argparse
import base64
import datetime
import http.server
import os
import subprocess
import tempfile

from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import padding

SIGNING_TIME_OID = bytes.fromhex("06092a864886f70d010905")


def tlv(data, offset):
    """The tag, the value's start and the value's end of the DER element at offset."""
    tag = data[offset]
    length = data[offset + 1]
    start = offset + 2
    if length & 0x80:
        count = length & 0x7F
        length = int.from_bytes(data[start:start + count], "big")
        start += count
    return tag, start, start + length


def children(data, start, end):
    """The (tag, offset, value start, value end) of each element between start and end."""
    out = []
    while start < end:
        tag, value, stop = tlv(data, start)
        out.append((tag, start, value, stop))
        start = stop
    return out


def requested_digest(request):
    """The content of the TimeStampRequest: the signature's encrypted digest."""
    _, start, end = tlv(request, 0)
    content_info = children(request, start, end)[-1]
    _, explicit, explicit_end = children(request, content_info[2], content_info[3])[1][1:]
    _, value, stop = tlv(request, explicit)
    return request[value:stop]


def sign(digest, cert, key, when):
    with tempfile.TemporaryDirectory() as work:
        blob = os.path.join(work, "blob")
        with open(blob, "wb") as f:
            f.write(digest)
        signed = bytearray(subprocess.run(
            ["openssl", "cms", "-sign", "-binary", "-nodetach", "-nosmimecap", "-md", "sha256", "-outform", "DER",
             "-signer", cert, "-inkey", key, "-in", blob], check=True, capture_output=True).stdout)
    # ContentInfo -> [0] -> SignedData -> signerInfos (its last element) -> the one SignerInfo.
    _, start, end = tlv(signed, 0)
    explicit = children(signed, start, end)[1]
    _, signed_data, signed_data_end = tlv(signed, explicit[2])
    signer_infos = children(signed, signed_data, signed_data_end)[-1]
    signer_info = children(signed, signer_infos[2], signer_infos[3])[0]
    fields = children(signed, signer_info[2], signer_info[3])
    attributes = next(f for f in fields if f[0] == 0xA0)
    signature = next(f for f in fields if f[0] == 0x04)
    # The signing time, UTCTime of the same length as openssl's: only its digits change.
    at = signed.index(SIGNING_TIME_OID, attributes[2], attributes[3])
    time_at = signed.index(b"\x17\x0d", at) + 2
    signed[time_at:time_at + 13] = when.strftime("%y%m%d%H%M%SZ").encode()
    # The signature covers the attributes encoded as a SET.
    covered = b"\x31" + bytes(signed[attributes[1] + 1:attributes[3]])
    with open(key, "rb") as f:
        private = serialization.load_pem_private_key(f.read(), password=None)
    new_signature = private.sign(covered, padding.PKCS1v15(), hashes.SHA256())
    assert len(new_signature) == signature[3] - signature[2]
    signed[signature[2]:signature[3]] = new_signature
    return bytes(signed)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cert", required=True)
    parser.add_argument("--key", required=True)
    parser.add_argument("--time", required=True)
    parser.add_argument("--port-file", required=True)
    args = parser.parse_args()
    when = datetime.datetime.strptime(args.time, "%Y%m%d%H%M%SZ")

    class Handler(http.server.BaseHTTPRequestHandler):
        def do_POST(self):
            request = base64.b64decode(self.rfile.read(int(self.headers["Content-Length"])))
            body = base64.b64encode(sign(requested_digest(request), args.cert, args.key, when))
            self.send_response(200)
            self.send_header("Content-Type", "application/octet-stream")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)

        def log_message(self, *_):
            pass

    server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
    with open(args.port_file + ".new", "w") as f:
        f.write(str(server.server_address[1]))
    os.replace(args.port_file + ".new", args.port_file)
    server.serve_forever()


if __name__ == "__main__":
    main()

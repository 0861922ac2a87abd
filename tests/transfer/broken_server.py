#!/usr/bin/env python3
"""An HTTPS server whose every answer breaks mid-body: status 200, a Content-Length of 50,000, the first
20,000 bytes of the fixture server's generated pattern, then a record that no TLS session can decrypt,
and two seconds later an abortive close.

Wine's WinHTTP takes a connection that simply ends or is reset (the shared fixture's cut_after) for
the end of the body about as often as for a failed read, so a test on it would be flaky; a corrupt
record fails the read every time.
Usage: broken_server.py PORT CERT KEY PIDFILE
"""
import os
import socket
import ssl
import struct
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))
from loopback_tls import read_request_head, serve_in_background  # noqa: E402

DECLARED = 50000
SENT = 20000


def serve(listener, context):
    while True:
        raw, _ = listener.accept()
        threading.Thread(target=answer, args=(raw, context), daemon=True).start()


def answer(raw, context):
    try:
        conn = context.wrap_socket(raw, server_side=True)
        if not read_request_head(conn):
            return
        body = bytes((i * 7 + 3) % 251 for i in range(SENT))
        conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\nConnection: close\r\n\r\n" % DECLARED + body)
        # Then a record that no TLS session can decrypt, written beside the TLS layer.
        raw_copy = socket.socket(fileno=os.dup(conn.fileno()))
        raw_copy.sendall(b"\x17\x03\x03\x00\x40" + os.urandom(64))
        time.sleep(2)
        raw_copy.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        raw_copy.close()
        conn.close()
    except (OSError, ssl.SSLError):
        raw.close()


def main():
    port, cert, key, pidfile = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4]
    serve_in_background(port, cert, key, pidfile, serve)


if __name__ == "__main__":
    main()

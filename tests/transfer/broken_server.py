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

DECLARED = 50000
SENT = 20000


def serve(listener, context):
    while True:
        raw, _ = listener.accept()
        threading.Thread(target=answer, args=(raw, context), daemon=True).start()


def answer(raw, context):
    try:
        conn = context.wrap_socket(raw, server_side=True)
        request = b""
        while b"\r\n\r\n" not in request:
            data = conn.recv(4096)
            if not data:
                return
            request += data
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
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    listeners = []
    for family, host in ((socket.AF_INET, "127.0.0.1"), (socket.AF_INET6, "::1")):
        listener = socket.socket(family, socket.SOCK_STREAM)
        listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        listener.bind((host, port))
        listener.listen(16)
        listeners.append(listener)
    if os.fork() > 0:
        return
    os.setsid()
    devnull = os.open(os.devnull, os.O_RDWR)
    for fd in (0, 1, 2):
        os.dup2(devnull, fd)
    with open(pidfile, "w") as f:
        f.write(str(os.getpid()))
    threading.Thread(target=serve, args=(listeners[1], context), daemon=True).start()
    serve(listeners[0], context)


if __name__ == "__main__":
    main()

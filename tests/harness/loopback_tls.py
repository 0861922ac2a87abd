"""What the harness's small TLS servers share: listening on both loopback addresses and going to the
background with a pid file, each address served on a thread of its own, and reading a request's head."""
import os
import socket
import ssl
import threading


def serve_in_background(port, cert, key, pidfile, serve, *args):
    """Listens on 127.0.0.1 and ::1 (Wine's WinHTTP may try either for localhost), forks, and runs
    serve(listener, context, *args) for each; the parent returns at once."""
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
    threading.Thread(target=serve, args=(listeners[1], context) + args, daemon=True).start()
    serve(listeners[0], context, *args)


def read_request_head(conn):
    """Reads up to the blank line that ends a request's head; False when the client closes first."""
    request = b""
    while b"\r\n\r\n" not in request:
        data = conn.recv(4096)
        if not data:
            return False
        request += data
    return True

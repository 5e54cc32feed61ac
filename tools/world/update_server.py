#!/usr/bin/env python3
"""The local update server: the release manifest /com.ini and firmware images
over plain HTTP on the loopback address, for the tests and the demo.

    update_server.py --port 18080 [--state DIR] [--manifest-version 1.0.0]
                     [--image-size 65536] [--image-variant good] [--public-host HOST]
                     [--tls PORT:CERTFILE:KEYFILE ...]

Each --tls adds an https listener on PORT with that certificate (PEM, the
chain first) and key; every listener serves the same paths and shares the
control state, so one test can ask over http and over https alike.

At start (and after a reset) it serves two paths: /com.ini, whose `version` is
--manifest-version and whose `xzdz` names the image, and that image,
/firmware/norva1-<version>.uf2, a UF2 image of --image-size bytes carrying the
version. Every other path answers 404. Each served request is logged to stderr
and, with --state, appended to DIR/requests.log.

The tests reconfigure it at run time through control requests under
/__control/ (any method; the request body is raw bytes; the answer is 200 with a
short text, or 400 with the reason):

    ping                          -> "ok"
    reset                         the start-up paths again, an empty request log
    route?path=P[&delivery]       serve the request body at P
    manifest[?delivery]           serve the request body at /com.ini
    image?path=P&version=V[&size=N][&variant=X][&delivery]
                                  serve a UF2 image from uf2gen.build_image at P; the
                                  answer's body is the image
    sign?key=K[&path=P][&delivery]
                                  sign the body now served at P (default /com.ini) with
                                  the private key in the file K, as tools/release/release-sign.py
                                  does, and serve the signature at P.sig; the answer's
                                  body is the signature's text
    fault?path=P&delivery         change only how the existing path P is delivered
    remove?path=P                 P answers 404 again
    log                           the requests served since the last reset or clear, one a line:
                                  METHOD TAB TARGET TAB USER-AGENT TAB SCHEME (http or https;
                                  control requests are not logged)
    log/clear                     forget the request log

Delivery options (route, manifest, image, fault):
    status=N         the status code (default 200); 204 and 304 are sent without a body
    mode=normal      Content-Length and the whole body (default)
    mode=chunked     Transfer-Encoding: chunked, pieces of `chunk` bytes (default 4096)
    mode=close       no length and no chunking; the body ends when the connection closes
    mode=short       Content-Length of the whole body, only the first `send` bytes
                     (default: half), then the connection closes
    mode=reset       as short, but the connection is reset instead of closed
    mode=stall       read the request, send nothing for `seconds` (default 120), close
    mode=stall-body  headers with Content-Length, then nothing for `seconds`, close
    mode=trickle     Content-Length, then pieces of `chunk` bytes (default 1024)
                     with `delay` milliseconds (default 20) between them; a drip
                     such as chunk=512&delay=20000 keeps every read within the
                     client's time-outs
A path is matched with its query first, then without it. A stall or a trickle
ends early, closing the connection, when the server is reset or stopped.
"""

import argparse
import importlib.machinery
import os
import socket
import ssl
import struct
import sys
import threading
import time
import types
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import parse_qs, urlsplit

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from uf2gen import VARIANTS, build_image  # noqa: E402  (beside this script)

def release_signature(key_path, data):
    """com.ini.sig's text for `data`, made by tools/release/release-sign.py (loaded only
    when a test asks for a signature: it needs the `cryptography` package)."""
    loader = importlib.machinery.SourceFileLoader(
        "release_sign", os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "release", "release-sign.py"))
    tool = types.ModuleType(loader.name)
    loader.exec_module(tool)
    try:
        return tool.sign_bytes(tool.load_private_key(key_path), data).encode("ascii")
    except tool.Refusal as problem:
        raise ValueError(str(problem))


MODES = {"normal", "chunked", "close", "short", "reset", "stall", "stall-body", "trickle"}
NO_BODY_STATUSES = {204, 304}


class Route:
    def __init__(self, body=b"", status=200, mode="normal", options=None):
        self.body = body
        self.status = status
        self.mode = mode
        self.options = options or {}

    def number(self, name, default):
        return int(self.options.get(name, default))


class ServerState:
    """Everything the control requests change, behind one lock."""

    def __init__(self, defaults):
        self.lock = threading.Lock()
        self.defaults = defaults  # () -> {path: Route}
        self.routes = defaults()
        self.log = []
        self.stall_wakeup = threading.Event()

    def reset(self):
        with self.lock:
            self.routes = self.defaults()
            self.log = []
            self.stall_wakeup.set()
            self.stall_wakeup = threading.Event()


def parse_delivery(query, route=None):
    """Applies the delivery options of a control request to a route."""
    route = route or Route()
    options = {k: v for k, v in query.items() if k not in ("path", "version", "size", "variant", "key")}
    mode = options.pop("mode", route.mode)
    if mode not in MODES:
        raise ValueError("unknown mode " + mode)
    status = int(options.pop("status", route.status))
    if not 100 <= status <= 999:
        raise ValueError("bad status %d" % status)
    for name, value in options.items():
        if name not in ("chunk", "send", "seconds", "delay"):
            raise ValueError("unknown option " + name)
        if int(value) < 0:
            raise ValueError("negative " + name)
    merged = dict(route.options) if mode == route.mode else {}
    merged.update(options)
    return Route(route.body, status, mode, merged)


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "UpdateServer/1.0"
    sys_version = ""

    def do_GET(self):
        self.dispatch(head=False)

    def do_HEAD(self):
        self.dispatch(head=True)

    def do_POST(self):
        self.dispatch(head=False)

    do_PUT = do_POST

    def version_string(self):
        return self.server_version

    def log_request(self, code="-", size="-"):
        headers = getattr(self, "headers", None)
        agent = headers.get("User-Agent", "") if headers else ""
        self.log_message('"%s" %s %s "%s"', self.requestline, code, size, agent)

    def dispatch(self, head):
        target = urlsplit(self.path)
        if target.path.startswith("/__control/"):
            self.control(target.path[len("/__control/"):], target.query)
        else:
            self.serve(head)

    # ---- control requests

    def control(self, command, query_text):
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length) if length else b""
        query = {k: v[-1] for k, v in parse_qs(query_text, keep_blank_values=True).items()}
        state = self.server.state
        try:
            answer = self.run_control(state, command, query, body)
        except (ValueError, KeyError) as problem:
            self.answer(400, ("err %s\n" % problem).encode())
            return
        self.answer(200, answer)

    def run_control(self, state, command, query, body):
        if command == "ping":
            return b"ok\n"
        if command == "reset":
            state.reset()
            return b"ok\n"
        if command == "log":
            with state.lock:
                lines = ["%s\t%s\t%s\t%s\n" % entry for entry in state.log]
            return "".join(lines).encode("utf-8", "replace")
        if command == "log/clear":
            with state.lock:
                state.log = []
            return b"ok\n"
        if command in ("route", "manifest", "image"):
            path = "/com.ini" if command == "manifest" else query["path"]
            if command == "image":
                size = int(query["size"]) if query.get("size") else None
                body = build_image(query["version"], size, query.get("variant", "good"))
            route = parse_delivery(query)
            route.body = body
            with state.lock:
                state.routes[path] = route
            return body if command == "image" else b"ok\n"
        if command == "sign":
            path = query.get("path", "/com.ini")
            with state.lock:
                if path not in state.routes:
                    raise ValueError("no route " + path)
                signed = state.routes[path].body
            text = release_signature(query["key"], signed)
            route = parse_delivery(query)
            route.body = text
            with state.lock:
                state.routes[path + ".sig"] = route
            return text
        if command == "fault":
            path = query["path"]
            with state.lock:
                if path not in state.routes:
                    raise ValueError("no route " + path)
                state.routes[path] = parse_delivery(query, state.routes[path])
            return b"ok\n"
        if command == "remove":
            with state.lock:
                state.routes.pop(query["path"], None)
            return b"ok\n"
        raise ValueError("unknown control request " + command)

    def answer(self, status, body):
        self.send_response(status)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Connection", "close")
        self.end_headers()
        self.wfile.write(body)
        self.close_connection = True

    # ---- served paths

    def serve(self, head):
        state = self.server.state
        target = urlsplit(self.path)
        agent = self.headers.get("User-Agent", "")
        with state.lock:
            state.log.append((self.command, self.path, agent, self.server.scheme))
            route = state.routes.get(self.path) or state.routes.get(target.path)
            wakeup = state.stall_wakeup
        self.server.record(self.command, self.path, agent)
        if route is None:
            route = Route(b"not found\n", 404)
        try:
            self.deliver(route, head, wakeup)
        except (BrokenPipeError, ConnectionResetError):
            self.close_connection = True

    def deliver(self, route, head, wakeup):
        body = b"" if route.status in NO_BODY_STATUSES else route.body
        mode = route.mode
        if mode == "stall":
            wakeup.wait(route.number("seconds", 120))
            self.close_connection = True
            return
        self.send_response(route.status)
        self.send_header("Content-Type", "application/octet-stream")
        if mode == "chunked":
            self.send_header("Transfer-Encoding", "chunked")
        elif mode == "close":
            self.send_header("Connection", "close")
        elif route.status not in NO_BODY_STATUSES:
            self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if head:
            return
        if mode == "normal":
            self.wfile.write(body)
        elif mode == "chunked":
            piece = max(1, route.number("chunk", 4096))
            for start in range(0, len(body), piece):
                part = body[start:start + piece]
                self.wfile.write(b"%x\r\n%s\r\n" % (len(part), part))
            self.wfile.write(b"0\r\n\r\n")
        elif mode == "close":
            self.wfile.write(body)
            self.close_connection = True
        elif mode in ("short", "reset"):
            self.wfile.write(body[:min(len(body), route.number("send", len(body) // 2))])
            if mode == "reset":
                # Closed at once with a zero linger time: the peer sees a reset, not an end of file.
                self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                self.connection.close()
            self.close_connection = True
        elif mode == "stall-body":
            wakeup.wait(route.number("seconds", 120))
            self.close_connection = True
        elif mode == "trickle":
            piece = max(1, route.number("chunk", 1024))
            delay = route.number("delay", 20) / 1000.0
            for start in range(0, len(body), piece):
                if start and wakeup.wait(delay):
                    self.close_connection = True
                    return
                self.wfile.write(body[start:start + piece])


class UpdateServer(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, address, state, request_log_path, tls=None):
        super().__init__(address, Handler)
        self.state = state
        self.request_log_path = request_log_path
        self.scheme = "http"
        if tls:
            certificate, key = tls
            context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            context.load_cert_chain(certificate, key)
            # The handshake happens in the request's own thread, on its first
            # read: a client that stalls it holds up no one else.
            self.socket = context.wrap_socket(self.socket, server_side=True, do_handshake_on_connect=False)
            self.scheme = "https"

    def handle_error(self, request, client_address):
        # A client that refuses the certificate ends the handshake: that is the
        # point of some listeners, not a fault of the server.
        if isinstance(sys.exc_info()[1], (ssl.SSLError, ConnectionError)):
            return
        super().handle_error(request, client_address)

    def record(self, method, target, agent):
        if not self.request_log_path:
            return
        with self.state.lock, open(self.request_log_path, "a", encoding="utf-8") as log:
            log.write("%s\t%s\t%s\t%s\n" % (time.strftime("%H:%M:%S"), method, target, agent))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--host", default="127.0.0.1", help="address to listen on")
    parser.add_argument("--port", type=int, default=18080)
    parser.add_argument("--state", help="directory for requests.log")
    parser.add_argument("--public-host", help="host the manifest's image URL names (default: --host)")
    parser.add_argument("--manifest-version", default="1.0.0", help="version the manifest announces")
    parser.add_argument("--image-size", type=int, default=65536, help="size of the announced image in bytes")
    parser.add_argument("--image-variant", default="good", choices=VARIANTS,
                        help="variant of the announced image (see uf2gen.py)")
    parser.add_argument("--tls", action="append", default=[], metavar="PORT:CERTFILE:KEYFILE",
                        help="an https listener on PORT (repeatable)")
    args = parser.parse_args()

    image_path = "/firmware/norva1-%s.uf2" % args.manifest_version
    image = build_image(args.manifest_version, args.image_size, args.image_variant)
    image_url = "http://%s:%d%s" % (args.public_host or args.host, args.port, image_path)
    manifest = ("version=%s\nxzdz=%s\n" % (args.manifest_version, image_url)).encode()

    def defaults():
        return {"/com.ini": Route(manifest), image_path: Route(image)}

    request_log = None
    if args.state:
        os.makedirs(args.state, exist_ok=True)
        request_log = os.path.join(args.state, "requests.log")
    state = ServerState(defaults)
    server = UpdateServer((args.host, args.port), state, request_log)
    secure = []
    for listener in args.tls:
        port, certificate, key = listener.split(":", 2)
        secure.append(UpdateServer((args.host, int(port)), state, request_log, (certificate, key)))
    for extra in secure:
        threading.Thread(target=extra.serve_forever, daemon=True).start()
    sys.stderr.write("update server on http://%s:%d/com.ini%s announcing %s (%d bytes)\n"
                     % (args.host, args.port, "".join(" and https port %d" % s.server_address[1] for s in secure),
                        args.manifest_version, len(image)))
    sys.stderr.flush()
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    finally:
        state.stall_wakeup.set()
        for extra in secure:
            extra.shutdown()
            extra.server_close()
        server.server_close()


if __name__ == "__main__":
    main()

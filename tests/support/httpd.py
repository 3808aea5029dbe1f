#!/usr/bin/env python3
"""The loopback HTTP server that the network tests talk to.

    python3 httpd.py --dir DIR

Binds 127.0.0.1 on an ephemeral port, writes the port to DIR/port and its
pid to DIR/pid (each through a temporary file and a rename, so that a reader
never sees half of one), and serves each connection on a thread of its own
until SIGTERM, SIGINT, `POST /__control/quit`, or 15 minutes (a safety net
for a test run that never stopped it).

Every request outside /__control/ is recorded as it arrived: method, target
as sent on the request line (an absolute URI when the client uses us as its
proxy; such requests are never forwarded), version, headers in order with
case and duplicates kept, the body (by Content-Length or chunked), and the
client's address. It is answered with the first queued reply, or with
200 text/plain "OK" when none is queued.

The control API, on the same port and never recorded:

    POST /__control/reset     forget recorded requests and queued replies
    POST /__control/queue     append one reply (a JSON object, see Reply)
    GET  /__control/requests  the recorded requests as a JSON list
    POST /__control/quit      stop the server

Text in the control API carries bytes: each character U+0000..U+00FF of a
JSON string stands for one byte (ISO-8859-1), so any header byte survives the
trip. Bodies travel in base64. Text given to /__control/queue with characters
beyond U+00FF is sent as UTF-8.

Every reply carries Content-Length (unless the queued reply sets
Content-Length or Transfer-Encoding itself, or the status has no body) and
"Connection: close" (unless it sets Connection): each request gets its own
connection, which WinINet handles like any server that does not keep
connections alive.
"""

import argparse
import base64
import gzip
import http
import json
import os
import signal
import socket
import socketserver
import sys
import threading
import time

CONTROL = "/__control/"
LIFETIME_S = 15 * 60
MAX_LINE = 65536
MAX_HEADERS = 1000
MAX_BODY = 64 * 1024 * 1024
IDLE_TIMEOUT_S = 60


class BadRequest(Exception):
    pass


def to_text(b):
    return b.decode("latin-1")


def to_bytes(s):
    try:
        return s.encode("latin-1")
    except UnicodeEncodeError:
        return s.encode("utf-8")


REPLY_FIELDS = {
    "status": int,
    "reason": str,
    "headers": list,
    "body_b64": str,
    "gzip": bool,
    "gzip_no_header": bool,
    "delay_ms": int,
    "drop": bool,
    "require_proxy_auth": bool,
}


class Reply:
    """One queued answer; built from the JSON object of /__control/queue."""

    def __init__(self, obj=None):
        obj = obj or {}
        if not isinstance(obj, dict):
            raise ValueError("a reply is a JSON object")
        for key, value in obj.items():
            kind = REPLY_FIELDS.get(key)
            if kind is None:
                raise ValueError("unknown reply field %r" % key)
            # bool is an int in Python; a status of true is a mistake.
            if not isinstance(value, kind) or (kind is int and isinstance(value, bool)):
                raise ValueError("reply field %r must be %s" % (key, kind.__name__))
        self.status = obj.get("status", 200)
        if not 100 <= self.status <= 999:
            raise ValueError("status out of range")
        self.reason = obj.get("reason", "")
        if "\r" in self.reason or "\n" in self.reason:
            raise ValueError("a reason is one line")
        self.headers = []
        for pair in obj.get("headers", []):
            if (not isinstance(pair, list) or len(pair) != 2
                    or not all(isinstance(x, str) for x in pair)):
                raise ValueError("headers is a list of [name, value]")
            name, value = to_bytes(pair[0]), to_bytes(pair[1])
            if b"\r" in name + value or b"\n" in name + value or b":" in name:
                raise ValueError("header %r cannot be sent" % pair[0])
            self.headers.append((name, value))
        self.body = base64.b64decode(obj.get("body_b64", "T0s="), validate=True)  # "OK"
        self.gzip = obj.get("gzip", False)
        self.gzip_no_header = obj.get("gzip_no_header", False)
        self.delay_ms = max(0, obj.get("delay_ms", 0))
        self.drop = obj.get("drop", False)
        self.require_proxy_auth = obj.get("require_proxy_auth", False)


def default_reply():
    r = Reply()
    r.headers.append((b"Content-Type", b"text/plain"))
    return r


class State:
    def __init__(self):
        self.lock = threading.Lock()
        self.requests = []
        self.queue = []

    def reset(self):
        with self.lock:
            self.requests.clear()
            self.queue.clear()

    def take(self, record):
        """Records a request and picks its reply, as one step, so that
        arrival order and queue order agree."""
        with self.lock:
            self.requests.append(record)
            if not self.queue:
                return default_reply(), False
            reply = self.queue[0]
            if reply.require_proxy_auth and not has_header(record["headers"], "proxy-authorization"):
                return reply, True  # challenged; stays queued for the retry
            self.queue.pop(0)
            return reply, False


def has_header(headers, lname):
    return any(n.lower() == lname for n, _ in headers)


def header_value(headers, lname):
    for n, v in headers:
        if n.lower() == lname:
            return v
    return None


class Handler(socketserver.StreamRequestHandler):
    timeout = IDLE_TIMEOUT_S

    def readline(self):
        line = self.rfile.readline(MAX_LINE + 1)
        if len(line) > MAX_LINE:
            raise BadRequest("line too long")
        return line

    def read_exact(self, n):
        data = self.rfile.read(n)
        if len(data) != n:
            raise BadRequest("connection closed inside the body")
        return data

    def read_head(self):
        line = self.readline()
        while line in (b"\r\n", b"\n"):  # tolerated before a request line
            line = self.readline()
        if not line:
            return None
        parts = line.rstrip(b"\r\n").split(b" ")
        if len(parts) != 3 or not all(parts):
            raise BadRequest("bad request line %r" % line)
        headers = []
        while True:
            line = self.readline()
            if not line:
                raise BadRequest("connection closed inside the headers")
            if line in (b"\r\n", b"\n"):
                break
            if len(headers) >= MAX_HEADERS:
                raise BadRequest("too many headers")
            line = line.rstrip(b"\r\n")
            name, sep, value = line.partition(b":")
            if not sep or not name or name != name.strip():
                raise BadRequest("bad header line %r" % line)
            headers.append([to_text(name), to_text(value.strip(b" \t"))])
        return [to_text(p) for p in parts], headers

    def read_body(self, headers):
        te = header_value(headers, "transfer-encoding")
        if te is not None and te.strip().lower() != "identity":
            if te.strip().lower() != "chunked":
                raise BadRequest("transfer coding %r" % te)
            return self.read_chunked()
        length = header_value(headers, "content-length")
        if length is None:
            return b""
        try:
            n = int(length.strip())
        except ValueError:
            raise BadRequest("bad Content-Length %r" % length)
        if n < 0 or n > MAX_BODY:
            raise BadRequest("Content-Length %d" % n)
        return self.read_exact(n)

    def read_chunked(self):
        body = bytearray()
        while True:
            line = self.readline()
            size_text = line.split(b";", 1)[0].strip()
            try:
                size = int(size_text, 16)
            except ValueError:
                raise BadRequest("bad chunk size %r" % line)
            if size < 0 or len(body) + size > MAX_BODY:
                raise BadRequest("chunked body too large")
            if size == 0:
                break
            body += self.read_exact(size)
            if self.readline() not in (b"\r\n", b"\n"):
                raise BadRequest("chunk not followed by a line end")
        while self.readline() not in (b"\r\n", b"\n", b""):  # trailers
            pass
        return bytes(body)

    def send(self, status, reason, headers, body, method="GET"):
        if not reason:
            try:
                reason = http.HTTPStatus(status).phrase
            except ValueError:
                reason = "Unknown"
        names = {n.lower() for n, _ in headers}
        no_body = status < 200 or status in (204, 304)
        out = [b"HTTP/1.1 %d %s\r\n" % (status, to_bytes(reason))]
        for n, v in headers:
            out.append(n + b": " + v + b"\r\n")
        # A reply that says its own length or framing keeps it: a test may
        # send a pre-chunked body, or a length that does not match.
        framed = b"content-length" in names or b"transfer-encoding" in names
        if not framed and status >= 200 and status != 204:
            out.append(b"Content-Length: %d\r\n" % (0 if status == 304 else len(body)))
        if b"connection" not in names:
            out.append(b"Connection: close\r\n")
        out.append(b"\r\n")
        if method != "HEAD" and not no_body:
            out.append(body)
        self.wfile.write(b"".join(out))
        self.wfile.flush()

    def send_text(self, status, text, content_type=b"text/plain; charset=utf-8"):
        self.send(status, "", [(b"Content-Type", content_type)], text.encode("utf-8"))

    def handle(self):
        try:
            head = self.read_head()
            if head is None:
                return
            (method, target, version), headers = head
            if (header_value(headers, "expect") or "").lower() == "100-continue":
                self.wfile.write(b"HTTP/1.1 100 Continue\r\n\r\n")
                self.wfile.flush()
            body = self.read_body(headers)
        except BadRequest as e:
            log("bad request from %s: %s" % (self.peer(), e))
            self.send_text(400, "bad request: %s\n" % e)
            return
        except (OSError, socket.timeout) as e:
            log("connection from %s lost: %s" % (self.peer(), e))
            return
        try:
            if target.startswith(CONTROL):
                self.control(method, target[len(CONTROL):], body)
            else:
                self.answer(method, target, version, headers, body)
        except OSError as e:  # the client went away; nothing to tell it
            log("connection from %s lost: %s" % (self.peer(), e))

    def peer(self):
        host, port = self.client_address[:2]
        return "%s:%d" % (host, port)

    def answer(self, method, target, version, headers, body):
        record = {
            "method": method,
            "target": target,
            "version": version,
            "headers": headers,
            "body_b64": base64.b64encode(body).decode("ascii"),
            "peer": self.peer(),
        }
        reply, challenged = self.server.state.take(record)
        log("%s %s %s (%d body bytes) from %s" % (method, target, version, len(body), self.peer()))
        if challenged:
            self.send(407, "", [(b"Proxy-Authenticate", b'Basic realm="cvtest"'),
                                (b"Content-Type", b"text/plain")],
                      b"proxy authentication required", method)
            return
        if reply.delay_ms:
            time.sleep(reply.delay_ms / 1000.0)
        if reply.drop:
            self.connection.shutdown(socket.SHUT_RDWR)  # no byte of an answer
            return
        headers_out = list(reply.headers)
        payload = reply.body
        if reply.gzip or reply.gzip_no_header:
            payload = gzip.compress(payload, mtime=0)
            if reply.gzip:
                headers_out.append((b"Content-Encoding", b"gzip"))
        self.send(reply.status, reply.reason, headers_out, payload, method)

    def control(self, method, what, body):
        state = self.server.state
        wants = {"reset": "POST", "queue": "POST", "requests": "GET", "quit": "POST"}
        if what not in wants:
            self.send_text(404, "no control %r\n" % what)
            return
        if method != wants[what]:
            self.send_text(405, "%s wants %s\n" % (what, wants[what]))
            return
        if what == "reset":
            state.reset()
            self.send_text(200, "reset\n")
        elif what == "queue":
            try:
                reply = Reply(json.loads(body.decode("utf-8")))
            except (ValueError, TypeError) as e:
                self.send_text(400, "bad reply: %s\n" % e)
                return
            with state.lock:
                state.queue.append(reply)
                n = len(state.queue)
            self.send_text(200, "queued %d\n" % n)
        elif what == "requests":
            with state.lock:
                text = json.dumps(state.requests, ensure_ascii=True)
            self.send(200, "", [(b"Content-Type", b"application/json")], text.encode("ascii"))
        elif what == "quit":
            self.send_text(200, "bye\n")
            self.server.stopping = True


class Server(socketserver.ThreadingMixIn, socketserver.TCPServer):
    daemon_threads = True
    # A fixed port must be free again at once after the previous run, whose
    # connections may still linger in TIME_WAIT.
    allow_reuse_address = True
    request_queue_size = 64

    def __init__(self, port=0):
        super().__init__(("127.0.0.1", port), Handler)
        self.state = State()
        self.stopping = False


def log(text):
    sys.stdout.write("%s %s\n" % (time.strftime("%H:%M:%S"), text))
    sys.stdout.flush()


def write_atomic(path, text):
    tmp = "%s.%d.tmp" % (path, os.getpid())
    with open(tmp, "w") as f:
        f.write(text)
    os.replace(tmp, path)


def remove_own(path, text):
    try:
        with open(path) as f:
            if f.read().strip() != text:
                return
        os.remove(path)
    except OSError:
        pass


def main():
    parser = argparse.ArgumentParser(description="loopback HTTP server for the network tests")
    parser.add_argument("--dir", required=True, help="where to write port and pid")
    parser.add_argument("--port", type=int, default=0,
                        help="a fixed port (for a program whose report server is built in); 0: any free one")
    args = parser.parse_args()
    os.makedirs(args.dir, exist_ok=True)

    server = Server(args.port)
    port = str(server.server_address[1])
    pid = str(os.getpid())

    def stop(signum, frame):
        server.stopping = True

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)

    thread = threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.1}, daemon=True)
    thread.start()
    pid_path, port_path = os.path.join(args.dir, "pid"), os.path.join(args.dir, "port")
    write_atomic(pid_path, pid)
    write_atomic(port_path, port)  # last: once it is there, we answer
    log("listening on 127.0.0.1:%s, pid %s" % (port, pid))

    deadline = time.monotonic() + LIFETIME_S
    while not server.stopping and time.monotonic() < deadline:
        time.sleep(0.1)
    log("stopping" if server.stopping else "lifetime over, stopping")
    server.shutdown()
    server.server_close()
    remove_own(port_path, port)
    remove_own(pid_path, pid)
    return 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""Receives the usage reports that the uninstaller sends, and shows them.

    python3 tools/report-receiver.py [--port N] [--record FILE] [--once N]

Listens on 127.0.0.1 only (port 8080 unless --port says otherwise; 0 picks a
free one). The first line printed is always

    listening on http://127.0.0.1:PORT/api/report.asp

Point the uninstaller's report address there. Each report is
`POST /api/report.asp` with a form body "type=...&value=...&uuid=...&sign=...";
it is answered as the real server does (200, text/plain, "OK") and printed as
one block: time, sender, the four fields and the request headers. A field
whose bytes are not UTF-8 (a sender's ANSI code page) is shown decoded with
--ansi (cp936 unless told otherwise), or byte for byte as Latin-1 when that
fails too, with a note saying so.

--record FILE appends one JSON line per report: time, peer, type, value,
uuid, sign (decoded as shown), encoding of each, body_b64 (the body as
received) and headers ([[name, value], ...]).
--once N exits after N reports. Ctrl-C or SIGTERM ends it cleanly.
Other paths get 404, other methods on the report path 405.
"""

import argparse
import base64
import datetime
import http.server
import json
import signal
import sys
import threading
import time
import urllib.parse

REPORT_PATH = "/api/report.asp"
FIELDS = ("type", "value", "uuid", "sign")
MAX_BODY = 1024 * 1024


def decode_field(raw, ansi):
    """The text of a field's bytes, and how it was decoded."""
    try:
        return raw.decode("utf-8"), "utf-8"
    except UnicodeDecodeError:
        pass
    try:
        return raw.decode(ansi), ansi
    except (UnicodeDecodeError, LookupError):
        return raw.decode("latin-1"), "latin-1"


def parse_form(body):
    """name -> raw bytes, in the order sent; '+' is a space, %XX a byte."""
    fields = []
    for part in body.split(b"&"):
        if not part:
            continue
        name, _, value = part.partition(b"=")
        name = urllib.parse.unquote_to_bytes(name.replace(b"+", b" "))
        value = urllib.parse.unquote_to_bytes(value.replace(b"+", b" "))
        fields.append((name.decode("utf-8", "replace"), value))
    return fields


class Receiver(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def __init__(self, port, record, once, ansi):
        super().__init__(("127.0.0.1", port), Handler)
        self.record = record
        self.once = once
        self.ansi = ansi
        self.count = 0
        self.lock = threading.Lock()
        self.stopping = False

    def handle_error(self, request, client_address):
        print("report-receiver: %s:%d: %s" % (client_address[0], client_address[1], sys.exc_info()[1]),
              file=sys.stderr, flush=True)


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "cvReportReceiver/1.0"
    timeout = 30

    def version_string(self):
        return self.server_version

    def log_message(self, fmt, *args):  # our own output only
        pass

    def reply(self, status, text, extra=()):
        body = text.encode("utf-8")
        self.send_response(status)
        self.send_header("Content-Type", "text/plain; charset=utf-8")
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Connection", "close")
        for name, value in extra:
            self.send_header(name, value)
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)
        self.wfile.flush()
        self.close_connection = True

    def read_body(self):
        if self.headers.get("Transfer-Encoding", "").strip().lower() == "chunked":
            body = bytearray()
            while True:
                size = int(self.rfile.readline(1024).split(b";")[0].strip(), 16)
                if size == 0:
                    break
                if len(body) + size > MAX_BODY:
                    raise ValueError("body too large")
                body += self.rfile.read(size)
                self.rfile.readline(1024)
            while self.rfile.readline(8192) not in (b"\r\n", b"\n", b""):
                pass
            return bytes(body)
        n = int(self.headers.get("Content-Length", "0"))
        if n < 0 or n > MAX_BODY:
            raise ValueError("Content-Length %d" % n)
        return self.rfile.read(n)

    def handle_any(self):
        path = urllib.parse.urlsplit(self.path).path
        if path != REPORT_PATH:
            self.reply(404, "not found\n")
            return
        if self.command != "POST":
            self.reply(405, "only POST\n", [("Allow", "POST")])
            return
        try:
            body = self.read_body()
        except ValueError as e:
            self.reply(400, "bad request: %s\n" % e)
            return
        self.show(body)  # shown and recorded before the sender hears "OK"
        self.reply(200, "OK")
        server = self.server
        with server.lock:
            server.count += 1
            if server.once and server.count >= server.once:
                server.stopping = True

    do_GET = do_HEAD = do_POST = do_PUT = do_DELETE = do_OPTIONS = do_PATCH = handle_any

    def show(self, body):
        server = self.server
        now = datetime.datetime.now().astimezone()
        peer = "%s:%d" % self.client_address[:2]
        form = parse_form(body)
        shown = {}
        encodings = {}
        for name in FIELDS:
            raw = next((v for n, v in form if n == name), None)
            if raw is not None:
                shown[name], encodings[name] = decode_field(raw, server.ansi)
        extra = [(n, decode_field(v, server.ansi)) for n, v in form if n not in FIELDS]
        headers = [[n, v] for n, v in self.headers.items()]

        def note(encoding):
            return "" if encoding == "utf-8" else "   [not UTF-8; shown as %s]" % encoding

        lines = ["--- report from %s at %s" % (peer, now.strftime("%Y-%m-%d %H:%M:%S %z"))]
        for name in FIELDS:
            if name in shown:
                lines.append("  %-6s %s%s" % (name + ":", shown[name], note(encodings[name])))
            else:
                lines.append("  %-6s (missing)" % (name + ":"))
        for name, (text, encoding) in extra:
            lines.append("  also %s = %s%s" % (name, text, note(encoding)))
        lines.append("  headers:")
        lines.extend("    %s: %s" % (n, v) for n, v in headers)

        entry = {
            "time": now.isoformat(timespec="seconds"),
            "peer": peer,
            **{name: shown.get(name) for name in FIELDS},
            "encoding": encodings,
            "body_b64": base64.b64encode(body).decode("ascii"),
            "headers": headers,
        }
        with server.lock:
            sys.stdout.write("\n".join(lines) + "\n")
            sys.stdout.flush()
            if server.record:
                with open(server.record, "a", encoding="utf-8") as f:
                    f.write(json.dumps(entry, ensure_ascii=False) + "\n")


def main():
    parser = argparse.ArgumentParser(description="shows the usage reports the uninstaller sends")
    parser.add_argument("--port", type=int, default=8080, help="port on 127.0.0.1 (0: any free one)")
    parser.add_argument("--record", metavar="FILE", help="append one JSON line per report")
    parser.add_argument("--once", type=int, default=0, metavar="N", help="exit after N reports")
    parser.add_argument("--ansi", default="cp936", help="code page for fields that are not UTF-8")
    args = parser.parse_args()
    sys.stdout.reconfigure(errors="backslashreplace")

    try:
        server = Receiver(args.port, args.record, args.once, args.ansi)
    except OSError as e:
        print("report-receiver: cannot listen on 127.0.0.1:%d: %s" % (args.port, e), file=sys.stderr)
        return 1

    def stop(signum, frame):
        server.stopping = True

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    print("listening on http://127.0.0.1:%d%s" % (server.server_address[1], REPORT_PATH), flush=True)
    thread = threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.1}, daemon=True)
    thread.start()
    while not server.stopping:
        time.sleep(0.1)
    server.shutdown()
    server.server_close()
    return 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""tools/report-receiver.py: what it answers, shows and records."""

import base64
import json
import os
import signal
import subprocess
import sys
import tempfile
import unittest
import urllib.error
import urllib.parse
import urllib.request

RECEIVER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "report-receiver.py")


class ReportReceiver(unittest.TestCase):
    def start(self, *args):
        env = dict(os.environ, PYTHONIOENCODING="utf-8")
        proc = subprocess.Popen([sys.executable, RECEIVER, "--port", "0", *args],
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env)
        self.addCleanup(self.stop, proc)
        first = proc.stdout.readline().decode()
        prefix = "listening on http://127.0.0.1:"
        self.assertTrue(first.startswith(prefix), first)
        self.url = first.strip()[len("listening on "):]
        self.assertTrue(self.url.endswith("/api/report.asp"), first)
        return proc

    @staticmethod
    def stop(proc):
        if proc.poll() is None:
            proc.kill()
        proc.communicate()

    def post(self, body, url=None, method="POST"):
        req = urllib.request.Request(url or self.url, data=body, method=method,
                                     headers={"Content-Type": "application/x-www-form-urlencoded",
                                              "X-Probe": "cvtest"})
        try:
            with urllib.request.urlopen(req, timeout=10) as r:
                return r.status, r.headers, r.read()
        except urllib.error.HTTPError as e:
            return e.code, e.headers, e.read()

    def test_reports_are_answered_shown_and_recorded(self):
        with tempfile.TemporaryDirectory() as tmp:
            record = os.path.join(tmp, "reports.jsonl")
            proc = self.start("--record", record, "--once", "2")
            # Neither counts as a report.
            self.assertEqual(self.post(b"type=1", url=self.url.replace("report.asp", "other.asp"))[0], 404)
            self.assertEqual(self.post(None, method="GET")[0], 405)

            utf8 = "type=3&value=" + urllib.parse.quote("卸载 done") + "&uuid=U-1&sign=ab%2Bc"
            status, headers, body = self.post(utf8.encode())
            self.assertEqual((status, body), (200, b"OK"))
            self.assertEqual(headers["Content-Type"], "text/plain; charset=utf-8")
            gbk = b"type=4&value=" + urllib.parse.quote_from_bytes("中文".encode("gbk")).encode() + b"&uuid=U-2"
            self.assertEqual(self.post(gbk)[:3:2], (200, b"OK"))

            out, _ = proc.communicate(timeout=10)  # --once 2: it ends by itself
            self.assertEqual(proc.returncode, 0)
            out = out.decode("utf-8")
            self.assertIn("value: 卸载 done", out)
            self.assertIn("sign:  ab+c", out)
            self.assertIn("value: 中文   [not UTF-8; shown as cp936]", out)
            self.assertIn("sign:  (missing)", out)
            self.assertIn("X-Probe: cvtest", out)

            with open(record, encoding="utf-8") as f:
                lines = [json.loads(line) for line in f]
            self.assertEqual(len(lines), 2)
            self.assertEqual([lines[0][k] for k in ("type", "value", "uuid", "sign")], ["3", "卸载 done", "U-1", "ab+c"])
            self.assertEqual(base64.b64decode(lines[0]["body_b64"]), utf8.encode())
            self.assertIn(["X-Probe", "cvtest"], lines[0]["headers"])
            self.assertEqual((lines[1]["value"], lines[1]["sign"]), ("中文", None))
            self.assertEqual(lines[1]["encoding"]["value"], "cp936")
            self.assertEqual(base64.b64decode(lines[1]["body_b64"]), gbk)

    def test_sigterm_ends_it_cleanly(self):
        proc = self.start()
        self.assertEqual(self.post(b"type=1&value=x&uuid=u&sign=s")[0], 200)
        proc.send_signal(signal.SIGTERM)
        _, err = proc.communicate(timeout=10)
        self.assertEqual(proc.returncode, 0, err)
        self.assertEqual(err, b"")


if __name__ == "__main__":
    unittest.main()

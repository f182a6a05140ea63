"""Checks the local update service where a mistake would mislead the launcher's tests."""

import hashlib
import http.client
import json
import os
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from update_service import (CHECK_PATH, REPLY_KEYS, Fault, UpdateService,  # noqa: E402
                            big_multibyte_body, build_check_reply, unreachable_port)


def raw_exchange(port, request_line, timeout=5.0):
    """Sends one request, reads until the server closes: (head, body, seconds)."""
    started = time.monotonic()
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
        s.sendall(f"{request_line}\r\nHost: updates.example\r\nConnection: close\r\n\r\n".encode())
        data = b""
        while chunk := s.recv(65536):
            data += chunk
    head, _, body = data.partition(b"\r\n\r\n")
    return head.decode("latin-1"), body, time.monotonic() - started


def header(head, name):
    for line in head.split("\r\n")[1:]:
        key, _, value = line.partition(":")
        if key.lower() == name.lower():
            return value.strip()
    return None


class ServiceTest(unittest.TestCase):
    def setUp(self):
        self.svc = UpdateService(max_hold_ms=2000).start()
        self.addCleanup(self.svc.stop)

    def get(self, path, method="GET", body=None):
        conn = http.client.HTTPConnection("127.0.0.1", self.svc.port, timeout=5)
        try:
            conn.request(method, path, body=body)
            resp = conn.getresponse()
            return resp.status, dict(resp.getheaders()), resp.read()
        finally:
            conn.close()


class RoutingAndRecording(ServiceTest):
    def test_absolute_form_reaches_check_and_is_recorded(self):
        target = f"http://updates.example{CHECK_PATH}?SKU=024-K1187-05&Major=2&Minor=5"
        head, body, _ = raw_exchange(self.svc.port, f"GET {target} HTTP/1.1")
        self.assertTrue(head.startswith("HTTP/1.1 200"), head)
        self.assertIn(b"<LatestVersion>2.06</LatestVersion>", body)
        self.get("/files/none")
        first, second = self.svc.requests()
        self.assertEqual((first["absolute"], first["host"], first["path"]),
                         (True, "updates.example", CHECK_PATH))
        self.assertEqual(first["query"], "SKU=024-K1187-05&Major=2&Minor=5")
        self.assertEqual((second["absolute"], second["path_query"]), (False, "/files/none"))

    def test_absolute_form_download_and_fault_urls(self):
        self.svc.set_download(b"x" * 1000)
        head, body, _ = raw_exchange(self.svc.port, "GET http://other.example/files/Setup.exe HTTP/1.1")
        self.assertEqual((header(head, "Content-Length"), body), ("1000", b"x" * 1000))
        head, _, _ = raw_exchange(self.svc.port, "GET http://h/fault/status/503 HTTP/1.1")
        self.assertTrue(head.startswith("HTTP/1.1 503"), head)

    def test_control_config_reset_and_requests_are_not_recorded(self):
        doc = {"check": {"fields": {"LatestVersion": "9.99"}, "fault": {"status": 500, "times": 1}}}
        status, _, _ = self.get("/_control/config", "POST", json.dumps(doc))
        self.assertEqual(status, 200)
        self.assertEqual(self.get(CHECK_PATH)[0], 500)
        status, _, body = self.get(CHECK_PATH)  # the fault was for one request only
        self.assertEqual(status, 200)
        self.assertIn(b"<LatestVersion>9.99</LatestVersion>", body)
        listed = json.loads(self.get("/_control/requests")[2])
        self.assertEqual([r["path"] for r in listed], [CHECK_PATH, CHECK_PATH])
        self.get("/_control/reset", "POST")
        self.assertEqual(self.svc.requests(), [])
        self.assertIn(b"<LatestVersion>2.06</LatestVersion>", self.get(CHECK_PATH)[2])

    def test_bad_fault_url_is_a_400_not_a_crash(self):
        self.assertEqual(self.get("/fault/bytes/abc")[0], 400)
        self.assertEqual(self.get("/fault/nonsense")[0], 400)


class ReplyBuilder(ServiceTest):
    def test_omit_and_order(self):
        text = build_check_reply(omit=["MD5"], order=["FileSize", "ReturnCode"],
                                 LatestVersion="2.05 ").decode()
        keys = [line[1:line.index(">")] for line in text.split("\r\n")]
        self.assertEqual(keys, ["FileSize", "ReturnCode", "LatestSKU", "LatestVersion",
                                "UpdateAvailable", "ServerPath", "FileName"])
        self.assertIn("<LatestVersion>2.05 </LatestVersion>", text)
        with self.assertRaises(ValueError):
            build_check_reply(omit=["Md5"])

    def test_defaults_follow_the_configured_download(self):
        data = os.urandom(3000)
        self.svc.set_download(data, path="/dl/Other.exe")
        body = self.get(CHECK_PATH)[2].decode()
        for key, value in (("ServerPath", f"{self.svc.base_url}dl/"), ("FileName", "Other.exe"),
                           ("FileSize", "3000"), ("MD5", hashlib.md5(data).hexdigest())):
            self.assertIn(f"<{key}>{value}</{key}>", body)
        self.assertEqual(self.get("/dl/Other.exe")[2], data)

    def test_path_built_reply_and_utf8_faults(self):
        body = self.get("/fault/check?LatestVersion=3.00&omit=MD5&order=FileName")[2].decode()
        self.assertTrue(body.startswith("<FileName>"))
        self.assertNotIn("<MD5>", body)
        self.assertIn("<LatestVersion>3.00</LatestVersion>", body)
        for kind in ("ff", "overlong", "surrogate", "truncated", "continuation", "above-max"):
            with self.subTest(kind=kind), self.assertRaises(UnicodeDecodeError):
                self.get(f"/fault/utf8-invalid?kind={kind}")[2].decode("utf-8")

    def test_big_multibyte_straddles_the_read_boundaries(self):
        def decodes(b):
            try:
                b.decode("utf-8")
                return True
            except UnicodeDecodeError:
                return False
        for prefix, cut_at_65535, cut_at_65536 in ((2, True, True), (1, True, False),
                                                   (0, False, True)):
            body = big_multibyte_body(70_000, prefix)
            self.assertGreater(len(body), 65536)
            self.assertEqual(decodes(body[:65535]), not cut_at_65535, prefix)
            self.assertEqual(decodes(body[:65536]), not cut_at_65536, prefix)
        self.assertEqual(self.get("/fault/big-multibyte?prefix=1")[2], big_multibyte_body(70_000, 1))


class BrokenDelivery(ServiceTest):
    def test_drop_delivers_exactly_n_bytes_then_closes(self):
        head, body, _ = raw_exchange(self.svc.port, "GET /fault/drop/700/5000 HTTP/1.1")
        self.assertEqual(header(head, "Content-Length"), "5000")
        self.assertEqual(len(body), 700)
        self.svc.set_download(b"A" * 4000, fault=Fault.drop(1234))
        head, body, _ = raw_exchange(self.svc.port, "GET /files/Setup.exe HTTP/1.1")
        self.assertEqual((header(head, "Content-Length"), body), ("4000", b"A" * 1234))

    def test_content_length_missing_wrong_or_forced(self):
        cases = [("/fault/bytes/10?length=none", None, 10),
                 ("/fault/bytes/10?length=7", "7", 10),
                 ("/fault/empty", "0", 0)]
        for path, expected_length, body_size in cases:
            with self.subTest(path=path):
                head, body, _ = raw_exchange(self.svc.port, f"GET {path} HTTP/1.1")
                self.assertEqual(header(head, "Content-Length"), expected_length)
                self.assertEqual(len(body), body_size)
        self.svc.set_download(b"B" * 100, fault=Fault.wrong_length(-1))
        head, body, _ = raw_exchange(self.svc.port, "GET /files/Setup.exe HTTP/1.1")
        self.assertEqual((header(head, "Content-Length"), len(body)), ("99", 100))
        self.assertEqual(header(head, "Connection"), "close")

    def test_authentication_challenges(self):
        head, _, _ = raw_exchange(self.svc.port, "GET /fault/auth401?realm=maps HTTP/1.1")
        self.assertTrue(head.startswith("HTTP/1.1 401"), head)
        self.assertEqual(header(head, "WWW-Authenticate"), 'Basic realm="maps"')
        self.svc.set_fault("check", Fault.proxy407("gw"))
        status, headers, _ = self.get(CHECK_PATH)
        self.assertEqual((status, headers.get("Proxy-Authenticate")), (407, 'Basic realm="gw"'))

    def test_redirect_chains_count_down_and_loops_point_at_themselves(self):
        cases = [("/fault/redirect/2?to=/files/x", "/fault/redirect/1?to=%2Ffiles%2Fx"),
                 ("/fault/redirect/1?to=/files/x", "/files/x"),
                 ("/fault/redirect/1", "/fault/redirect/0"),
                 ("/fault/redirect/loop", "/fault/redirect/loop")]
        for target, location in cases:
            head, _, _ = raw_exchange(self.svc.port, f"GET {target} HTTP/1.1")
            self.assertTrue(head.startswith("HTTP/1.1 302"), head)
            self.assertEqual(header(head, "Location"), location)
        head, body, _ = raw_exchange(self.svc.port, "GET /fault/redirect/0 HTTP/1.1")
        self.assertTrue(head.startswith("HTTP/1.1 200"), head)
        self.assertEqual(body, b"arrived\r\n")

    def test_trickle_paces_the_body(self):
        head, body, seconds = raw_exchange(self.svc.port, "GET /fault/trickle/10/150/40 HTTP/1.1")
        self.assertEqual(len(body), 40)
        self.assertGreaterEqual(seconds, 0.4)  # three pauses between four pieces

    def test_fails_counter_then_clean_reply(self):
        url = "/fault/status/503?fails=2&id=a"
        self.assertEqual([self.get(url)[0] for _ in range(3)], [503, 503, 200])
        self.assertEqual(self.get("/fault/status/503?fails=2&id=b")[0], 503)

    def test_close_hang_and_unreachable_end_within_bounds(self):
        for path in ("/fault/close", "/fault/reset"):
            with self.subTest(path=path):
                try:
                    _, body, _ = raw_exchange(self.svc.port, f"GET {path} HTTP/1.1")
                    self.assertEqual(body, b"")
                except ConnectionResetError:
                    self.assertEqual(path, "/fault/reset")
        head, body, seconds = raw_exchange(self.svc.port, "GET /fault/hang?ms=300 HTTP/1.1")
        self.assertEqual((head, body), ("", b""))
        self.assertGreaterEqual(seconds, 0.25)
        self.svc.set_mode("hang")  # held for the service's maximum, 2 s here
        _, body, seconds = raw_exchange(self.svc.port, f"GET {CHECK_PATH} HTTP/1.1")
        self.assertEqual(body, b"")
        self.assertLess(seconds, 4)
        self.assertEqual(self.get("/_control/health")[2], b"ok")  # control is never held
        with self.assertRaises(ConnectionRefusedError):
            socket.create_connection(("127.0.0.1", unreachable_port()), timeout=2)


class CommandLine(unittest.TestCase):
    def test_service_writes_port_and_stops_on_sigterm(self):
        with tempfile.TemporaryDirectory() as tmp:
            port_file = os.path.join(tmp, "port")
            proc = subprocess.Popen([sys.executable, os.path.join(HERE, "update_service.py"),
                                     "--port-file", port_file], stdout=subprocess.PIPE)
            try:
                port = int(proc.stdout.readline())
                with open(port_file) as f:
                    self.assertEqual(int(f.read()), port)
                self.assertEqual(raw_exchange(port, "GET /_control/health HTTP/1.1")[1], b"ok")
                proc.send_signal(signal.SIGTERM)
                self.assertEqual(proc.wait(timeout=5), 0)
            finally:
                proc.kill()
                proc.wait(timeout=5)
                proc.stdout.close()

    def test_with_service_environment_exit_code_and_timeout(self):
        script = os.path.join(HERE, "with_service.py")
        probe = ("import os, urllib.request, sys; "
                 "u = os.environ['UPDATE_SERVICE_URL']; "
                 "assert u == 'http://127.0.0.1:%s/' % os.environ['UPDATE_SERVICE_PORT']; "
                 "assert os.environ['http_proxy'] == u; "
                 "urllib.request.urlopen(u + 'fault/empty', timeout=5).read(); sys.exit(5)")
        done = subprocess.run([sys.executable, script, "--proxy", "--", sys.executable, "-c", probe],
                              timeout=20)
        self.assertEqual(done.returncode, 5)
        started = time.monotonic()
        done = subprocess.run([sys.executable, script, "--timeout", "0.5", "--", "sleep", "30"],
                              timeout=20, stderr=subprocess.DEVNULL)
        self.assertEqual(done.returncode, 124)
        self.assertLess(time.monotonic() - started, 10)


if __name__ == "__main__":
    unittest.main()

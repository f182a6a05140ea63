"""A release made by scripts/publish, served by real servers: nginx with the configuration in
docs/nginx as it is documented, and squid as a user's proxy that asks for a password. The
release launcher.exe updates 2.5 to 2.6 through them."""

from __future__ import annotations

import http.client
import shutil
import time
import urllib.parse

from harness import (BRAND, DOWNLOAD_HOST, UPDATE_HOST, LauncherCase, Nginx, Run, Squid, check_url,
                     md5_hex, publish, server_folder)

SERVER_PATH = BRAND["download_url"]
# The installer's path on the download host, as nginx logs it.
FILE_NAME = "AppSetup-2.06.exe"
SERVED_INSTALLER = DOWNLOAD_HOST + " " + urllib.parse.urlsplit(SERVER_PATH).path + FILE_NAME


class ServedRelease(LauncherCase):
    """The 2.6 installer published into a folder that nginx serves for the whole class."""

    @classmethod
    def setUpClass(cls) -> None:
        super().setUpClass()
        cls.folder = server_folder("launcher-release-")
        cls.site = cls.folder / "site"
        done = publish("--installer", str(cls.machine.fixture("setup-2.6", "Setup.exe")),
                       "--app-version", "2.6", "--server-path", SERVER_PATH,
                       "--file-name", FILE_NAME, "--out", str(cls.site))
        assert done.returncode == 0, done.stderr
        cls.nginx = Nginx(cls.site, cls.folder / "nginx").start()

    @classmethod
    def tearDownClass(cls) -> None:
        cls.nginx.stop()
        shutil.rmtree(cls.folder, ignore_errors=True)
        super().tearDownClass()

    def get(self, url: str) -> http.client.HTTPResponse:
        connection = http.client.HTTPConnection("127.0.0.1", self.nginx.port, timeout=10)
        connection.request("GET", url)  # absolute form, as a proxy is asked
        response = connection.getresponse()
        response.body = response.read()
        connection.close()
        return response


class StaticServer(ServedRelease):
    def test_reply_is_revalidated_and_installer_cached_with_exact_length(self) -> None:
        reply = self.get(check_url(1, 0))
        self.assertEqual(200, reply.status)
        self.assertEqual("text/plain; charset=utf-8", reply.getheader("Content-Type"))
        self.assertEqual("no-cache", reply.getheader("Cache-Control"))
        self.assertIn(b"<LatestVersion>2.06</LatestVersion>", reply.body)
        installer = self.get(SERVER_PATH + FILE_NAME)
        self.assertEqual(200, installer.status)
        self.assertEqual(self.installer, installer.body)
        self.assertEqual(str(len(self.installer)), installer.getheader("Content-Length"))
        self.assertEqual("application/octet-stream", installer.getheader("Content-Type"))
        self.assertIn("max-age=31536000", installer.getheader("Cache-Control"))
        # Another host name is not this service.
        self.assertEqual(404, self.get("http://elsewhere.example/" + FILE_NAME).status)

    def test_update_through_nginx_then_no_update(self) -> None:
        self.machine.install_app("2.5")
        first = Run(self.machine, self.nginx, watch=False)
        self.assertEqual(0, first.wait(120))
        lines = first.log_lines()
        self.assertIn("has update", lines)
        self.assertIn(f"download: {SERVER_PATH}{FILE_NAME} to {self.setup_path}", lines)
        self.assertEqual((2, 6, 0, 0), self.machine.installed_version())
        self.assertEqual(1, len(self.machine.wait_app_starts(1)))
        self.assertEqual(
            [f"{UPDATE_HOST} {check_url(2, 5).split(UPDATE_HOST, 1)[1]} 200",
             f"{SERVED_INSTALLER} 200"],
            [line.rsplit(" ", 1)[0] for line in self.nginx.requests()][-2:])

        second = Run(self.machine, self.nginx, watch=False)
        self.assertEqual(0, second.wait(60))
        lines = second.log_lines()
        self.assertIn("local version: 2.06", lines)
        self.assertEqual(["no update", "exit", ""], lines[-3:])
        self.assertFalse(any(line.startswith("download: ") for line in lines), lines)


class ProxyWithPassword(ServedRelease):
    USER, PASSWORD = "mapuser", "Pa55-word"

    def fill_credential_dialogs(self, run: Run, timeout: float = 120) -> int:
        """Answers the system's proxy password dialog as a person would, each time it comes up,
        until the launcher ends. Returns how often it came up."""
        filled, last = 0, None
        end = time.monotonic() + timeout
        while run.process.poll() is None and time.monotonic() < end:
            found = self.machine.ui("find", "--class", "#32770", "--timeout", "2000")
            if not found or not found[0].get("found") or found[0]["hwnd"] == last:
                continue
            hwnd = str(found[0]["hwnd"])
            self.assertIn(1028, [c.get("child") for c in found[1:]], found)
            self.machine.ui("type", "--hwnd", hwnd, "--id", "1027", "--text", self.USER)
            self.machine.ui("type", "--hwnd", hwnd, "--id", "1028", "--text", self.PASSWORD)
            for _ in range(20):
                user = [c for c in self.machine.ui("find", "--class", "#32770", "--timeout", "0")
                        if c.get("child") == 1027]
                if user and user[0]["text"] == self.USER:
                    break
                time.sleep(0.2)
            self.assertEqual(self.USER, user[0]["text"] if user else None)
            self.machine.ui("click", "--hwnd", hwnd, "--id", "1")
            filled, last = filled + 1, found[0]["hwnd"]
        return filled

    def test_proxy_asks_for_a_password_and_the_update_goes_through(self) -> None:
        with Squid(self.nginx.port, self.folder / "squid", self.USER, self.PASSWORD) as squid:
            self.machine.install_app("2.5")
            run = Run(self.machine, squid, watch=False)
            filled = self.fill_credential_dialogs(run)
            self.assertEqual(0, run.wait(30))
        lines = run.log_lines()
        self.assertGreaterEqual(filled, 1)
        self.assertIn("HTTP_STATUS error, code: 407", lines)
        self.assertIn(f"download: {SERVER_PATH}{FILE_NAME} to {self.setup_path}", lines)
        self.assertEqual((2, 6, 0, 0), self.machine.installed_version())
        self.assertEqual(1, len(self.machine.wait_app_starts(1)))
        # Both requests were let through for the user, and answered by nginx behind the proxy.
        granted = [line.split()[6] for line in squid.requests()
                   if "TCP_MISS/200" in line and f" {self.USER} " in line]
        self.assertEqual([check_url(2, 5),
                          SERVER_PATH + FILE_NAME], granted, squid.requests())

    def test_part_left_by_a_closed_launcher_is_resumed_through_the_proxy(self) -> None:
        size, start = len(self.installer), len(self.installer) * 6 // 10
        self.machine.install_app("2.5")
        # What a launcher closed at 60 % leaves: the part and its record, with nginx's ETag.
        etag = self.get(SERVER_PATH + FILE_NAME).getheader("ETag")
        self.machine.download_dir.mkdir(parents=True, exist_ok=True)
        (self.machine.download_dir / "Setup.exe.part").write_bytes(self.installer[:start])
        record = ["launcher download record 1", f"url={SERVER_PATH}{FILE_NAME}", f"size={size}",
                  f"md5={md5_hex(self.installer)}", f"validator={etag}", f"written={start}", ""]
        (self.machine.download_dir / "Setup.exe.resume").write_bytes(
            "\n".join(record).encode("utf-16-le"))
        with Squid(self.nginx.port, self.folder / "squid-resume", self.USER,
                   self.PASSWORD) as squid:
            run = Run(self.machine, squid, watch=False)
            self.fill_credential_dialogs(run)
            self.assertEqual(0, run.wait(30))
        self.assertIn(f"download resume: from {start} of {size} bytes", run.log_lines())
        self.assertEqual((2, 6, 0, 0), self.machine.installed_version())
        self.assertEqual(self.installer, self.machine.setup_path.read_bytes())
        # nginx honoured the If-Range behind the proxy and sent only the rest.
        self.assertIn(f"{SERVED_INSTALLER} 206 {size - start}",
                      self.nginx.requests())

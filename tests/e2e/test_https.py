"""The update road over HTTPS: a launcher built for https:// and the brand's update host, nginx
with the build's update-service-tls.conf and a certificate from a test authority that only this
prefix trusts, reached through squid (CONNECT). Every refused road leaves 2.5 installed."""

from __future__ import annotations

import shutil
import time
import urllib.parse

from harness import (BRAND, DOWNLOAD_HOST, UPDATE_HOST, LauncherCase, Nginx, Run, Squid, TestCa,
                     publish, server_folder)

ORIGIN = "https://" + UPDATE_HOST
QUERY = f"{BRAND['check_path']}?SKU={BRAND['sku']}&Major=2&Minor=5"
FILE_NAME = "AppSetup-2.06.exe"
NAMES = (UPDATE_HOST, DOWNLOAD_HOST)
# The download folder, as https:// and as the path nginx logs.
DOWNLOAD_FOLDER = urllib.parse.urlsplit(BRAND["download_url"]).path
DOWNLOAD_URL = f"https://{DOWNLOAD_HOST}{DOWNLOAD_FOLDER}"


class HttpsRoads(LauncherCase):
    @classmethod
    def setUpClass(cls) -> None:
        super().setUpClass()
        cls.folder = server_folder("launcher-https-")
        authority = TestCa(cls.folder / "ca", "Launcher Test CA")
        authority.trust(cls.machine)
        cls.good, cls.other_name = authority.issue(*NAMES), authority.issue("elsewhere.example")
        cls.untrusted = TestCa(cls.folder / "stranger", "Stranger CA").issue(*NAMES)
        for scheme in ("https", "http"):
            done = publish("--installer", str(cls.machine.fixture("setup-2.6", "Setup.exe")),
                           "--app-version", "2.6", "--file-name", FILE_NAME, "--update-url", ORIGIN,
                           "--server-path", f"{scheme}://{DOWNLOAD_HOST}{DOWNLOAD_FOLDER}",
                           "--out", str(cls.folder / scheme))
            assert done.returncode == 0, done.stderr
        cls.nginx = Nginx(cls.folder / "https", cls.folder / "nginx", tls=cls.good)
        cls.squid = Squid(cls.nginx.port, cls.folder / "squid").start()

    @classmethod
    def tearDownClass(cls) -> None:
        cls.squid.stop()
        shutil.rmtree(cls.folder, ignore_errors=True)
        super().tearDownClass()

    def start(self, site: str = "https", certificate=None, extra: str = "") -> Run:
        self.nginx.serve(self.folder / site, certificate or self.good, extra)
        self.nginx.start()
        self.addCleanup(self.nginx.stop)
        self.machine.install_app("2.5")
        # WinINet takes the proxy for HTTPS from http_proxy (scripts/wine-env.sh clears no_proxy).
        run = Run(self.machine, self.squid, watch=False,
                  launcher=self.machine.build / "https" / "launcher.exe")
        self.addCleanup(lambda: run.process.poll() is None and run.kill())
        return run

    def served(self) -> list[str]:
        return [line.rsplit(" ", 1)[0] for line in self.nginx.requests()]

    def assert_check_refused(self, run: Run, codes: set[str]) -> None:
        """Three failed attempts, each with one of `codes`; the installed 2.5 is started."""
        self.assertEqual(0, run.wait(120))
        lines = run.log_lines()
        failures = lines[lines.index(ORIGIN + QUERY) + 1:lines.index("request check update error")]
        self.assertEqual(3, len(failures), lines)
        self.assertLessEqual(set(failures), codes, lines)
        self.assertEqual((2, 5, 0, 0), self.machine.installed_version())
        self.assertEqual(1, len(self.machine.wait_app_starts(1)))

    def test_update_over_https_through_the_proxy(self) -> None:
        run = self.start()
        self.assertEqual(0, run.wait(120))
        self.assertIn(f"download: {DOWNLOAD_URL}{FILE_NAME} to "
                      f"{self.setup_path}", run.log_lines())
        self.assertEqual((2, 6, 0, 0), self.machine.installed_version())
        self.assertEqual(1, len(self.machine.wait_app_starts(1)))
        self.assertEqual([f"{UPDATE_HOST} {QUERY} 200",
                          f"{DOWNLOAD_HOST} {DOWNLOAD_FOLDER}{FILE_NAME} 200"], self.served())
        # Through the proxy, and only as tunnels.
        self.assertTrue([line for line in self.squid.requests() if " CONNECT " in line])
        self.assertFalse([line for line in self.squid.requests() if " GET " in line])

    def test_certificate_from_an_authority_the_system_does_not_trust(self) -> None:
        # Windows reports 12045 (ERROR_INTERNET_INVALID_CA); Wine's revocation check fails
        # first on a chain it cannot place, with 12057.
        self.assert_check_refused(self.start(certificate=self.untrusted),
                                  {"InternetOpenUrl error, code: 12045",
                                   "InternetOpenUrl error, code: 12057"})
        self.assertEqual([], self.served())

    def test_certificate_for_another_name(self) -> None:
        self.assert_check_refused(self.start(certificate=self.other_name),
                                  {"InternetOpenUrl error, code: 12038"})
        self.assertEqual([], self.served())

    def test_redirect_from_https_to_http_is_not_followed(self) -> None:
        run = self.start(extra=f"return 307 http://{UPDATE_HOST}$request_uri;")
        self.assert_check_refused(run, {"redirect error, not https"})
        self.assertEqual(3 * [f"{UPDATE_HOST} {QUERY} 307"], self.served())
        self.assertFalse([line for line in self.squid.requests() if " GET " in line])

    def test_https_check_naming_an_http_installer_downloads_nothing(self) -> None:
        run = self.start(site="http")
        end = time.monotonic() + 60
        while "download error" not in run.log_lines() and time.monotonic() < end:
            time.sleep(0.2)
        run.kill()  # at the Retry/Manual dialog, which ends the run without starting 2.5
        self.assertEqual(["download link error: http:// after an https:// check",
                          "download error"], run.log_lines()[-2:])
        self.assertEqual([f"{UPDATE_HOST} {QUERY} 200"], self.served())
        self.assertEqual((2, 5, 0, 0), self.machine.installed_version())

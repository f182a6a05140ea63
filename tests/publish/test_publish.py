"""scripts/publish: the release it writes, and every broken release it refuses."""

from __future__ import annotations

import hashlib
import re
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

PUBLISH = Path(__file__).resolve().parents[2] / "scripts" / "publish"
REPLY = Path("TavrelDeskyn", "APIDispatcher", "CheckDeskynToolUpdateAvailability")


class Publish(unittest.TestCase):
    def setUp(self) -> None:
        self.temp = tempfile.TemporaryDirectory()
        self.dir = Path(self.temp.name)
        self.installer = self.dir / "Setup.exe"
        self.installer.write_bytes(b"MZ" + bytes(range(256)) * 10)
        self.out = self.dir / "site"

    def tearDown(self) -> None:
        self.temp.cleanup()

    def publish(self, **changes: str | bool) -> subprocess.CompletedProcess:
        options = {"installer": str(self.installer), "app_version": "2.6",
                   "server_path": "http://downloads.osker.example/osker/", "out": str(self.out)}
        options.update(changes)
        args = []
        for key, value in options.items():
            if value is None:
                continue
            args += ["--" + key.replace("_", "-")] + ([] if value is True else [value])
        return subprocess.run([sys.executable, str(PUBLISH), *args], capture_output=True,
                              text=True, timeout=60)

    def test_release_folder_holds_the_reply_and_the_installer(self) -> None:
        data = self.installer.read_bytes()
        for version, text in (("2.6", "2.06"), ("2.10", "2.10"), ("0.0", "0.00"), ("3.123", "3.123")):
            with self.subTest(version):
                done = self.publish(app_version=version, file_name="Osker-Setup_2.6~1.exe",
                                    sku="024-K1187-09")
                self.assertEqual(0, done.returncode, done.stderr)
                reply = (self.out / REPLY).read_bytes().decode("utf-8")
                self.assertEqual(
                    "<ReturnCode>1</ReturnCode>\n<LatestSKU>024-K1187-09</LatestSKU>\n"
                    f"<LatestVersion>{text}</LatestVersion>\n<UpdateAvailable>Y</UpdateAvailable>\n"
                    "<ServerPath>http://downloads.osker.example/osker/</ServerPath>\n"
                    "<FileName>Osker-Setup_2.6~1.exe</FileName>\n"
                    f"<FileSize>{len(data)}</FileSize>\n<MD5>{hashlib.md5(data).hexdigest()}</MD5>\n",
                    reply)
                self.assertEqual(data, (self.out / "osker" / "Osker-Setup_2.6~1.exe").read_bytes())
                self.assertIn(reply, done.stdout)
        # The installer's own name by default; publishing the same file again is harmless.
        for _ in range(2):
            done = self.publish(server_path="https://cdn.example:8443/a/b/",
                                update_url="https://updates.osker.example")
            self.assertEqual((0, ""), (done.returncode, done.stderr))
        self.assertEqual(data, (self.out / "a" / "b" / "Setup.exe").read_bytes())
        # Launchers that check over HTTPS would refuse a plain-HTTP download: said, not refused.
        done = self.publish(update_url="https://updates.osker.example", force=True)
        self.assertEqual(0, done.returncode)
        self.assertIn("publish: warning: launchers that check https://updates.osker.example over "
                      "HTTPS refuse to download from http://downloads.osker.example/osker/",
                      done.stderr)

    def test_the_brand_names_the_reply_path_and_the_defaults(self) -> None:
        brands = PUBLISH.parents[1] / "brands"
        done = self.publish(brand=str(brands / "example.cmake"), server_path=None)
        self.assertEqual(0, done.returncode, done.stderr)
        reply = (self.out / "atlas" / "v1" / "update-check").read_text(encoding="utf-8")
        self.assertIn("<LatestSKU>LKS-ATLAS-3</LatestSKU>\n", reply)
        self.assertIn("<ServerPath>http://downloads.larkspur.example/atlas/</ServerPath>\n", reply)
        self.assertTrue((self.out / "atlas" / "Setup.exe").is_file())
        # A brand is refused, on one line, naming each setting that is missing or unusable.
        bad = self.dir / "bad.cmake"
        bad.write_text(f'include("{brands / "example.cmake"}")\nunset(LAUNCHER_BRAND_LOG_LOCK)\n' +
                       "".join(f'set(LAUNCHER_BRAND_{key} "{value}")\n' for key, value in (
                           ("SKU", "LKS 3"), ("APP_EXE", "Atlas"), ("PRODUCT", "50%"),
                           ("VENDOR_FOLDER", "a/b"), ("CHECK_PATH", "atlas"),
                           ("DOWNLOAD_URL", "http://d.example/x"), ("BANNER", "none.bmp"),
                           ("UPDATE_URL", "http://u.example/x"))))
        for brand, named in ((bad, ("LOG_LOCK", "SKU", "APP_EXE", "PRODUCT", "VENDOR_FOLDER",
                                    "CHECK_PATH", "DOWNLOAD_URL", "BANNER", "UPDATE_URL")),
                             (brands / "missing.cmake", ())):
            done = self.publish(brand=str(brand))
            self.assertEqual((1, 1), (done.returncode, len(done.stderr.splitlines())), done.stderr)
            self.assertTrue(done.stderr.startswith("publish: refused: --brand: "), done.stderr)
            self.assertEqual(sorted(named), sorted(re.findall(r"LAUNCHER_BRAND_(\w+) '", done.stderr)))

    def test_broken_releases_are_refused_and_nothing_is_written(self) -> None:
        (self.dir / "empty.exe").write_bytes(b"")
        taken = self.out / "osker" / "Setup.exe"
        taken.parent.mkdir(parents=True)
        taken.write_bytes(b"an older installer")
        cases = [
            ({"app_version": "2"}, "is not MAJOR.MINOR"),
            ({"app_version": "2.6.1"}, "is not MAJOR.MINOR"),
            ({"app_version": "-2.6"}, "is not MAJOR.MINOR"),
            ({"app_version": "2.six"}, "is not MAJOR.MINOR"),
            ({"app_version": "2.65536"}, "go up to 65535"),
            ({"installer": str(self.dir / "missing.exe")}, "is not a file"),
            ({"installer": str(self.dir)}, "is not a file"),
            ({"installer": str(self.dir / "empty.exe")}, "is empty"),
            ({"server_path": "ftp://downloads.osker.example/osker/"}, "is not an http"),
            ({"server_path": "downloads.osker.example/osker/"}, "is not an http"),
            ({"server_path": "http:///osker/"}, "is not an http"),
            ({"server_path": "https://user:pw@downloads.osker.example/osker/"}, "user name"),
            ({"server_path": "http://downloads.osker.example/osker"}, "must end with '/'"),
            ({"server_path": "http://downloads.osker.example/?dir=osker/"}, "must end with '/'"),
            ({"server_path": "http://downloads.osker.example/os ker/"}, "would need escaping"),
            ({"server_path": "http://downloads.osker.example/../osker/"}, "would need escaping"),
            ({"file_name": "osker/Setup.exe"}, "without a path separator"),
            ({"file_name": "osker\\Setup.exe"}, "without a path separator"),
            ({"file_name": "Setup 2.6.exe"}, "would need escaped"),
            ({"file_name": "Setup#2.exe"}, "would need escaped"),
            ({"file_name": "Setup%202.exe"}, "would need escaped"),
            ({"file_name": ".."}, "would need escaped"),
            ({"sku": "024<K>"}, "--sku"),
            ({}, "already holds a different installer (--force to replace it)"),
        ]
        for changes, message in cases:
            with self.subTest(**changes):
                done = self.publish(**changes)
                self.assertEqual(1, done.returncode)
                self.assertEqual("", done.stdout)
                self.assertEqual(1, len(done.stderr.splitlines()), done.stderr)
                self.assertTrue(done.stderr.startswith("publish: refused: "), done.stderr)
                self.assertIn(message, done.stderr)
                self.assertEqual([taken], [p for p in self.out.rglob("*") if p.is_file()])
        self.assertEqual(0, self.publish(force=True).returncode)
        self.assertEqual(self.installer.read_bytes(), taken.read_bytes())


if __name__ == "__main__":
    unittest.main()

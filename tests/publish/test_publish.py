"""scripts/publish: the release it writes, and every broken release it refuses."""

from __future__ import annotations

import hashlib
import os
import re
import struct
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

TESTS = Path(__file__).resolve().parents[1]
sys.path[:0] = [str(TESTS / "fixtures"), str(TESTS / "service")]
from signing_token import SigningToken  # noqa: E402
from update_service import UpdateService  # noqa: E402

PUBLISH = TESTS.parent / "scripts" / "publish"
REPLY = Path("TavrelDeskyn", "APIDispatcher", "CheckDeskynToolUpdateAvailability")


def small_program() -> bytes:
    """The smallest 32-bit Windows program osslsigncode signs: headers and one section."""
    dos = b"MZ".ljust(0x3C, b"\0") + struct.pack("<I", 0x40)
    coff = b"PE\0\0" + struct.pack("<HHIIIHH", 0x14C, 1, 0, 0, 0, 0xE0, 0x0102)
    optional = struct.pack("<HBBIIIIIIIIIHHHHHHIIIIHHIIIIII", 0x10B, 0, 0, 0x200, 0, 0, 0x1000,
                           0x1000, 0x2000, 0x400000, 0x1000, 0x200, 4, 0, 0, 0, 4, 0, 0, 0x2000,
                           0x200, 0, 2, 0, 0x100000, 0x1000, 0x100000, 0x1000, 0, 16) + bytes(128)
    section = struct.pack("<8sIIIIIIHHI", b".text", 0x200, 0x1000, 0x200, 0x200, 0, 0, 0, 0,
                          0x60000020)
    return (dos + coff + optional + section).ljust(0x200, b"\0") + bytes(range(256)) * 2


def certificate(folder: Path, name: str, usage: str = "codeSigning") -> tuple[str, str]:
    """A new self-signed certificate and its key, as PEM files: (certificate, key)."""
    cert, key = folder / f"{name}.pem", folder / f"{name}.key"
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-sha256", "-days", "30",
                    "-nodes", "-subj", f"/CN={name}", "-addext", f"extendedKeyUsage={usage}",
                    "-keyout", str(key), "-out", str(cert)],
                   check=True, capture_output=True, timeout=60)
    return str(cert), str(key)


def signatures(path: Path, cert: str, tsa: str) -> list[tuple[str, str, bool]]:
    """(digest, signer, time-stamped) of each signature osslsigncode finds and verifies."""
    done = subprocess.run(["osslsigncode", "verify", "-in", str(path), "-CAfile", cert,
                           "-TSA-CAfile", tsa], capture_output=True, text=True, timeout=60)
    return [(re.search(r"^Message digest algorithm  : (\S+)", part, re.M).group(1)
             if "Signature verification: ok" in part else "invalid",
             re.search(r"Subject: /CN=(.+)", part).group(1),
             "Timestamp Server Signature verification: ok" in part)
            for part in re.split(r"^Signature Index: ", done.stdout, flags=re.M)[1:]]


class Publish(unittest.TestCase):
    @classmethod
    def setUpClass(cls) -> None:
        # Under the build tree when run by ctest: the token's files are the build's own.
        cls.keys = tempfile.TemporaryDirectory(dir=os.environ.get("LAUNCHER_BUILD_DIR"))
        folder = Path(cls.keys.name)
        cls.cert, cls.key = certificate(folder, "Publisher")
        cls.stranger_cert, _ = certificate(folder, "Stranger")
        cls.tsa_cert, cls.tsa_key = certificate(folder, "Stamper", "critical,timeStamping")
        cls.token = SigningToken(folder / "token", Path(cls.key))

    @classmethod
    def tearDownClass(cls) -> None:
        cls.keys.cleanup()

    def setUp(self) -> None:
        self.temp = tempfile.TemporaryDirectory()
        self.dir = Path(self.temp.name)
        self.installer = self.dir / "Setup.exe"
        self.installer.write_bytes(small_program())
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
                              text=True, timeout=60, env=self.token.environment)

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
            ({"timestamp_url": "http://127.0.0.1:1/"}, "goes with --sign-cert and --sign-key"),
            ({"sign_cert": self.cert, "sign_key": self.key, "timestamp_url": "tsa.example"},
             "--timestamp-url 'tsa.example' is not an http"),
            ({"sign_cert": self.cert, "sign_key": self.key,
              "pkcs11_module": str(self.token.module)}, "goes with a pkcs11: URI"),
            ({"sign_cert": self.cert, "sign_key": self.token.uri()}, "needs --pkcs11-module"),
            ({"sign_cert": self.cert, "sign_key": self.token.uri(),
              "pkcs11_module": str(self.dir / "missing.so")}, "is not a file"),
            ({"sign_cert": self.cert, "sign_key": "pkcs11:?pin-value=2580",
              "pkcs11_module": str(self.token.module)}, "names no key"),
            ({"sign_cert": self.key, "sign_key": self.token.uri(),
              "pkcs11_module": str(self.token.module)}, "is not a PEM certificate"),
            # The token's own refusals, with no PIN in what is said.
            ({"sign_cert": self.cert, "sign_key": self.token.uri("0000"),
              "pkcs11_module": str(self.token.module)}, "Setup.exe': Login failed"),
            ({"sign_cert": self.stranger_cert, "sign_key": self.token.uri(),
              "pkcs11_module": str(self.token.module)}, "is not the key of"),
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
                self.assertNotIn("pin-value", done.stderr)
                self.assertEqual([taken], [p for p in self.out.rglob("*") if p.is_file()])
        self.assertEqual(0, self.publish(force=True).returncode)
        self.assertEqual(self.installer.read_bytes(), taken.read_bytes())

    def test_installer_carries_a_sha1_and_a_nested_sha256_signature(self) -> None:
        """Signed with a PEM key and time-stamped, or through the token: one certificate for
        both signatures, so a launcher pinning it accepts whichever one its Windows reads."""
        with UpdateService() as stamper:
            stamper.set_time_stamper(self.tsa_cert, self.tsa_key)
            for key, module, stamp in ((self.key, None, stamper.base_url + "tsa"),
                                       (self.token.uri(), str(self.token.module), None)):
                with self.subTest(key=key):
                    options = {"pkcs11_module": module} if module else {}
                    options.update({"timestamp_url": stamp} if stamp else {})
                    done = self.publish(sign_cert=self.cert, sign_key=key, force=True, **options)
                    self.assertEqual(0, done.returncode, done.stderr)
                    self.assertEqual([("SHA1", "Publisher", bool(stamp)),
                                      ("SHA256", "Publisher", bool(stamp))],
                                     signatures(self.out / "osker" / "Setup.exe", self.cert,
                                                self.tsa_cert))
        # XP reads only the older Authenticode kind of time stamp: that one for SHA-1.
        self.assertEqual(["application/octet-stream", "application/timestamp-query"],
                         [r["headers"].get("Content-Type") for r in stamper.requests()])


if __name__ == "__main__":
    unittest.main()

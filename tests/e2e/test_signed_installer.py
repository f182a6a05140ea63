"""Installers checked for their publisher, end to end: a launcher.exe built with the test
publisher's certificate pinned, under Wine against the test update service, offered the 2.6
installer signed by that publisher (published through a token, with a SHA-1 signature and a
nested SHA-256 one), unsigned, signed by a stranger who copied the publisher's name, and changed
after signing. Size and MD5 always match what is served: whoever can change the traffic can
change those too."""

from __future__ import annotations

import subprocess
import tempfile
import unittest
from pathlib import Path

from harness import BRAND, HERE, SET_ASIDE, WINDOW_CLASS, LauncherCase, Run, Signer, md5_hex
from signing_token import SigningToken

FAILURE_TITLE = "無法下載"
PUBLISHER = "/CN=Launcher Test Publisher"
PUBLISH = HERE.parent.parent / "scripts" / "publish"
REPLY = tuple(BRAND["check_path"].strip("/").split("/"))


class SignedInstallers(LauncherCase):
    @classmethod
    def setUpClass(cls) -> None:
        super().setUpClass()
        signing = cls.machine.build / "signing"
        cls.publisher = Signer(signing / "publisher.pem", signing / "publisher.key")
        cls.folder = tempfile.TemporaryDirectory(dir=cls.machine.build)
        cls.stranger = Signer.create(Path(cls.folder.name), PUBLISHER)
        cls.stamper = Signer.create(Path(cls.folder.name), "/CN=Time Stamper",
                                    "critical,timeStamping")
        cls.token = SigningToken(Path(cls.folder.name) / "token", cls.publisher.key)
        cls.signed = cls.publisher.sign(cls.installer)

    @classmethod
    def tearDownClass(cls) -> None:
        cls.folder.cleanup()
        super().tearDownClass()

    def setUp(self) -> None:
        super().setUp()
        # The installed 2.5 is not running, so an ended run that started it would show.
        self.machine.install_app("2.5")

    def run_offering(self, installer: bytes | None = None) -> Run:
        if installer is not None:
            self.service.set_download(installer)
            self.service.set_check_reply(LatestVersion="2.06", MD5=md5_hex(installer))
        run = Run(self.machine, self.service, watch=False, launcher=self.machine.pinned_launcher)
        self.addCleanup(lambda: run.process.poll() is None and run.kill())
        return run

    def after_download(self, run: Run) -> list[str]:
        lines = run.log_lines()
        self.assertIn("has update", lines)
        after = lines[lines.index("has update") + 1:]
        self.assertTrue(after[0].startswith("download: http://"), after)
        return after[1:]

    def assert_refused(self, installer: bytes, reason: str) -> None:
        """The download fails for `reason`: the failure dialog, answered with Escape, ends the
        run with the installed application neither removed, replaced nor started."""
        run = self.run_offering(installer)
        found = self.machine.ui("find", "--class", "#32770", "--title", FAILURE_TITLE,
                                "--owner-class", WINDOW_CLASS, "--timeout", "60000", timeout=90)
        self.assertTrue(found and found[0].get("found"), run.log_lines())
        self.assertEqual([reason, "download error"], self.after_download(run))
        self.machine.ui("key", "--hwnd", str(found[0]["hwnd"]), "--key", "escape")
        self.assertEqual(0, run.wait(60))
        self.assertEqual([reason, "download error", "exit", ""], self.after_download(run))
        self.assertEqual((2, 5, 0, 0), self.machine.installed_version())
        self.assertEqual([], self.machine.wait_app_starts(1, timeout=3))

    def publish(self, out: Path, key: Path | str, *extra: str) -> subprocess.CompletedProcess:
        return subprocess.run(
            [str(PUBLISH), "--installer", str(self.machine.fixture("setup-2.6", "Setup.exe")),
             "--app-version", "2.6", "--server-path", "http://downloads.example/files/",
             "--out", str(out), "--sign-cert", str(self.publisher.certificate),
             "--sign-key", str(key), *extra], capture_output=True, text=True, timeout=120,
            env=self.token.environment)

    def test_release_published_signed_is_installed_and_started(self) -> None:
        """Through the token, time-stamped: the launcher reads the SHA-1 signature's signer."""
        out = Path(self.folder.name) / "published"
        self.service.set_time_stamper(str(self.stamper.certificate), str(self.stamper.key))
        published = self.publish(out, self.token.uri(), "--pkcs11-module", str(self.token.module),
                                 "--timestamp-url", self.service.base_url + "tsa")
        self.assertEqual(0, published.returncode, published.stderr)
        # The fingerprint the publisher is told to pin is the one this launcher pins.
        self.assertIn(f"LAUNCHER_INSTALLER_SIGNERS: {self.publisher.fingerprint()}\n",
                      published.stdout)
        self.service.set_download(file=str(out / "files" / "Setup.exe"))
        self.service.set_check_reply(out.joinpath(*REPLY).read_bytes())
        run = self.run_offering()
        self.assertEqual(0, run.wait(120))
        after = self.after_download(run)
        self.assertEqual([f"setup signer: {self.publisher.fingerprint()}",
                          "check whether application is running", "delete application dir",
                          SET_ASIDE], after[:4])
        self.assertTrue(after[4].startswith("run setup: "), after)
        self.assertEqual(["exit", ""], after[7:])
        self.assertEqual((2, 6, 0, 0), self.machine.installed_version())
        starts = self.machine.wait_app_starts(1)
        self.assertEqual(1, len(starts), starts)
        self.assertTrue(starts[0].startswith("started 2.6"), starts)

    def test_publishing_refuses_a_key_that_is_not_the_certificates(self) -> None:
        out = Path(self.folder.name) / "refused"
        published = self.publish(out, self.stranger.key)
        self.assertEqual(1, published.returncode)
        self.assertIn("is not the key of --sign-cert", published.stderr)
        self.assertFalse(out.exists())

    def test_unsigned_installer_is_refused(self) -> None:
        self.assert_refused(self.installer, f"setup signature missing: {self.setup_path}")

    def test_installer_signed_by_a_stranger_with_the_publishers_name_is_refused(self) -> None:
        self.assert_refused(self.stranger.sign(self.installer),
                            f"setup signer not pinned: {self.stranger.fingerprint()}")

    def test_installer_signed_by_a_stranger_with_the_publishers_signature_nested_is_refused(
            self) -> None:
        # Windows checks the outer signature; a pinned one inside it vouches for nothing.
        self.assert_refused(self.stranger.sign(self.installer, nested=self.publisher),
                            f"setup signer not pinned: {self.stranger.fingerprint()}")

    def test_installer_changed_after_signing_is_refused(self) -> None:
        changed = bytearray(self.signed)
        # Inside the carried application, far from the headers and the signature.
        changed[len(changed) // 2] ^= 0xFF
        # Windows and Wine both report a digest that no longer matches.
        self.assert_refused(bytes(changed), "setup signature invalid, code: 0x80096010")


if __name__ == "__main__":
    unittest.main()

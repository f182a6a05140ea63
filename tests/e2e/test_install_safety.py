"""Installers that cannot be right, end to end: the release launcher.exe under Wine never loses
the installed application to an installer without a size, never waits without end for one that
does not start or never starts the application, and installs from a temporary folder whose
name the ANSI code page cannot write."""

from __future__ import annotations

import getpass
import time
import unittest
from pathlib import Path

from harness import LauncherCase, Run, md5_hex


class InstallSafety(LauncherCase):
    def setUp(self) -> None:
        super().setUp()
        # Installed but not running, so a start by the end of the run shows in its records.
        self.machine.install_app("2.5")

    def start(self, env: dict | None = None) -> Run:
        run = Run(self.machine, self.service, env=env, watch=False)
        self.addCleanup(self.end, run)
        return run

    @staticmethod
    def end(run: Run) -> None:
        if run.process.poll() is None:
            run.kill()

    def offer(self, installer: bytes, **fields) -> None:
        self.service.set_download(installer)
        fields.setdefault("FileSize", str(len(installer)))
        self.service.set_check_reply(LatestVersion="2.06", MD5=md5_hex(installer), **fields)

    def escape_failure_dialog(self) -> None:
        found = self.machine.ui("find", "--class", "#32770", "--owner-class", "LAUNCHER",
                                "--timeout", "60000", timeout=90)
        self.assertTrue(found and found[0]["found"], "no download-failure dialog")
        self.machine.ui("key", "--hwnd", str(found[0]["hwnd"]), "--key", "escape")

    def after_update_offer(self, run: Run) -> list[str]:
        lines = run.log_lines()
        self.assertIn("has update", lines)
        return lines[lines.index("has update") + 1:]

    def test_an_installer_without_a_size_is_neither_fetched_nor_run(self) -> None:
        for size in ("0", "", "12 KB"):
            with self.subTest(FileSize=size):
                self.service.clear_requests()
                self.offer(b"", FileSize=size)
                run = self.start()
                self.escape_failure_dialog()
                self.assertEqual(0, run.wait(60))
                self.assertEqual([f"file size error: server setting size:  {size}",
                                  "download error", "exit", ""], self.after_update_offer(run))
                self.assertFalse(any(r["path"] == "/files/Setup.exe"
                                     for r in self.service.requests()))
                self.assertFalse(self.machine.setup_path.exists())
                self.assertEqual((2, 5, 0, 0), self.machine.installed_version())
                self.assertEqual([], self.machine.app_starts())

    def test_an_installer_that_is_no_program_ends_the_run_at_once(self) -> None:
        self.offer(b"This is an error page, not an installer.\r\n" * 100)
        run = self.start()
        self.assertEqual(0, run.wait(60))
        self.assertLess(run.elapsed, 20)
        steps = self.after_update_offer(run)[1:]
        self.assertEqual(["check whether application is running", "delete application dir",
                          "run setup: " + self.setup_path,
                          "CreateProcess error, code: 193",  # ERROR_BAD_EXE_FORMAT
                          "Wait Application run: retrun code : 11",
                          "setup not started, no wait", "exit", ""], steps)
        time.sleep(1.0)
        self.assertEqual([], self.machine.app_starts())

    def test_an_installer_that_never_starts_the_application_is_waited_for_60_s(self) -> None:
        self.offer(self.installer)
        run = self.start(env={"STAND_IN_SETUP_MODE": "no-start"})
        self.assertEqual(0, run.wait(150))
        self.assertGreaterEqual(run.elapsed, 60)
        self.assertLess(run.elapsed, 90)
        steps = self.after_update_offer(run)[1:]
        self.assertEqual(["check whether application is running", "delete application dir",
                          "run setup: " + self.setup_path,
                          "Wait Application run: retrun code : 33",
                          "setup ended, application not running after 60 s", "exit", ""], steps)
        self.assertEqual((2, 6, 0, 0), self.machine.installed_version())
        starts = self.machine.wait_app_starts(1)
        self.assertEqual(["started 2.6"], [s.split(" pid=")[0] for s in starts])

    def test_a_temporary_folder_outside_the_ansi_code_page_installs(self) -> None:
        self.offer(self.installer)
        folder = "C:\\users\\" + getpass.getuser() + "\\Temp\\王小明"
        with self.machine.temp_folder(folder):
            run = self.start()
            self.assertEqual(0, run.wait(120))
            steps = self.after_update_offer(run)
            self.assertIn("Wait Application run: retrun code : 33", steps)
            self.assertEqual(self.installer, self.machine.setup_path.read_bytes())
            self.assertEqual((2, 6, 0, 0), self.machine.installed_version())
            starts = self.machine.wait_app_starts(1)
            self.assertEqual(["started 2.6"], [s.split(" pid=")[0] for s in starts])

    def test_a_temporary_path_too_long_fails_the_download_without_writing(self) -> None:
        self.offer(self.installer)
        with self.machine.temp_folder("C:\\" + "t" * 300):
            run = self.start()
            self.escape_failure_dialog()
            self.assertEqual(0, run.wait(60))
        self.assertEqual(["temp path error: no download folder", "download error", "exit", ""],
                         self.after_update_offer(run))
        self.assertFalse(any(r["path"] == "/files/Setup.exe" for r in self.service.requests()))
        # The launcher runs in this folder: nothing may land here instead.
        self.assertFalse((Path.cwd() / "Osker").exists())
        self.assertEqual((2, 5, 0, 0), self.machine.installed_version())


if __name__ == "__main__":
    unittest.main()

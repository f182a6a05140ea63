"""Installers that cannot be right, end to end: the release launcher.exe under Wine never loses
the installed application to an installer without a size, one that is no program, is cancelled,
fails half way, writes a cut-short program or is cut short with the launcher; never waits
without end for one that does not start or never starts the application, or leaves a program
running; waits for one that hands over to a copy of itself; never follows a link standing at a
name it writes; keeps the run going when the window is closed during the install; and installs
from a temporary folder whose name the ANSI code page cannot write."""

from __future__ import annotations

import getpass
import os
import shutil
import stat
import tempfile
import time
import unittest
from pathlib import Path

from harness import (APP_EXE, BACKUP, BACKUP_REMOVED, BRAND, RESTORED, SET_ASIDE, WINDOW_CLASS,
                     LauncherCase, Run, md5_hex)

PRODUCT = BRAND["product_folder"]


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
        fields.setdefault("LatestVersion", "2.06")
        self.service.set_check_reply(MD5=md5_hex(installer), **fields)

    def escape_failure_dialog(self) -> None:
        found = self.machine.ui("find", "--class", "#32770", "--owner-class", WINDOW_CLASS,
                                "--timeout", "60000", timeout=90)
        self.assertTrue(found and found[0]["found"], "no download-failure dialog")
        self.machine.ui("key", "--hwnd", str(found[0]["hwnd"]), "--key", "escape")

    def after_update_offer(self, run: Run) -> list[str]:
        lines = run.log_lines()
        self.assertIn("has update", lines)
        return lines[lines.index("has update") + 1:]

    def assert_installed(self, version: str, extra: list[str] = ()) -> None:
        """Only `version` (and `extra`) in the folder, nothing beside it, and that build started."""
        self.assertEqual((sorted([APP_EXE, *extra]), [PRODUCT]), self.machine.folders())
        self.assertEqual(tuple(int(n) for n in version.split(".")) + (0, 0),
                         self.machine.installed_version())
        starts = self.machine.wait_app_starts(1)
        self.assertEqual([f"started {version}"], [s.split(" pid=")[0] for s in starts])

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
        (self.machine.app_dir / "maps").mkdir()
        run = self.start()
        self.assertEqual(0, run.wait(60))
        self.assertLess(run.elapsed, 20)
        steps = self.after_update_offer(run)[1:]
        self.assertEqual(["check whether application is running", "delete application dir",
                          SET_ASIDE, "run setup: " + self.setup_path,
                          "CreateProcess error, code: 193",  # ERROR_BAD_EXE_FORMAT
                          "Wait Application run: retrun code : 11",
                          "setup not started, no wait", RESTORED, "exit", ""], steps)
        self.assert_installed("2.5", ["maps"])

    def test_a_cancelled_half_done_or_cut_short_install_gives_the_application_back(self) -> None:
        self.offer(self.installer)
        for mode, code in (("fail", 1), ("half", 4), ("cut-short", 1)):
            with self.subTest(mode=mode):
                self.machine.reset()
                self.machine.install_app("2.5")
                run = self.start(env={"STAND_IN_SETUP_MODE": mode})
                self.assertEqual(0, run.wait(150))
                steps = self.after_update_offer(run)[1:]
                self.assertEqual(["setup ended, application not running after 60 s",
                                  f"install failed, setup exit code: {code}", RESTORED,
                                  "exit", ""], steps[-5:])
                self.assert_installed("2.5")

    def test_an_installer_that_never_starts_the_application_is_waited_for_60_s(self) -> None:
        self.offer(self.installer)
        run = self.start(env={"STAND_IN_SETUP_MODE": "no-start"})
        self.assertEqual(0, run.wait(150))
        self.assertGreaterEqual(run.elapsed, 60)
        self.assertLess(run.elapsed, 90)
        steps = self.after_update_offer(run)[1:]
        self.assertEqual(["check whether application is running", "delete application dir",
                          SET_ASIDE, "run setup: " + self.setup_path,
                          "Wait Application run: retrun code : 33",
                          "setup ended, application not running after 60 s", BACKUP_REMOVED,
                          "exit", ""], steps)
        self.assert_installed("2.6")

    def test_an_installer_leaving_a_program_running_holds_nothing(self) -> None:
        self.offer(self.installer)
        run = self.start(env={"STAND_IN_SETUP_MODE": "leave-child"})
        self.assertEqual(0, run.wait(60))
        self.assertEqual(BACKUP_REMOVED, self.after_update_offer(run)[-3])
        self.assert_installed("2.6")
        # Closing the installer's job ended nothing it left.
        self.machine.end_stand_in_apps()
        self.assertTrue(self.wait_setup_log("child told to exit"))

    def wait_setup_log(self, text: str, timeout: float = 60) -> bool:
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            if self.machine.setup_log.exists() and text in self.machine.setup_log.read_text():
                return True
            time.sleep(0.2)
        return False

    def test_a_launcher_ended_during_the_install_is_made_good_by_the_next(self) -> None:
        self.offer(self.installer)
        run = self.start(env={"STAND_IN_SETUP_MODE": "stall"})
        self.assertTrue(self.wait_setup_log("wrote part"))
        run.kill()
        self.machine.end_stand_in_apps()
        self.assertEqual((["partial.dat"], [PRODUCT, PRODUCT + " backup"]),
                         self.machine.folders())
        self.service.set_check_reply(LatestVersion="2.05")
        again = self.start()
        self.assertEqual(0, again.wait(60))
        self.assertIn(RESTORED, again.log_lines())
        self.assert_installed("2.5")

    def test_a_link_at_the_backup_name_is_never_followed(self) -> None:
        outside = Path(tempfile.mkdtemp(prefix="launcher-outside-"))
        backup_link = self.machine.app_dir.parent / (PRODUCT + " backup")
        try:
            (outside / "precious.txt").write_text("must survive")
            backup_link.symlink_to(outside, target_is_directory=True)
            self.offer(self.installer)
            run = self.start()
            self.assertEqual(0, run.wait(120))
            lines = run.log_lines()
            self.assertIn("backup name taken, left alone: " + BACKUP, lines)
            self.assertIn(BACKUP_REMOVED.replace(BACKUP, BACKUP + " 2"), lines)
            self.assertEqual(["precious.txt"], os.listdir(outside))
            self.assertEqual("must survive", (outside / "precious.txt").read_text())
            self.assertTrue(backup_link.is_symlink())
            self.assertEqual((2, 6, 0, 0), self.machine.installed_version())
            self.assertEqual(1, len(self.machine.wait_app_starts(1)))
        finally:
            if backup_link.is_symlink():
                backup_link.unlink()
            shutil.rmtree(outside, ignore_errors=True)

    def test_read_only_files_never_leave_anything_beside_the_folder(self) -> None:
        settings = self.machine.app_dir / "settings.ini"
        settings.write_text("read-only")
        os.chmod(settings, stat.S_IREAD)
        self.offer(self.installer)
        self.assertEqual(0, self.start().wait(120))
        self.assert_installed("2.6")
        # The next update is cancelled after leaving a read-only file of its own.
        self.machine.end_stand_in_apps()
        self.machine.app_starts_log.unlink()
        self.offer(self.installer, LatestVersion="2.07")
        run = self.start(env={"STAND_IN_SETUP_MODE": "fail-read-only"})
        self.assertEqual(0, run.wait(150))
        steps = self.after_update_offer(run)
        self.assertIn("install failed, setup exit code: 1223", steps)
        self.assertEqual([RESTORED, "exit", ""], steps[-3:])
        self.assert_installed("2.6")

    def test_an_installer_handing_over_to_a_copy_of_itself_is_waited_for(self) -> None:
        self.offer(self.installer)
        run = self.start(env={"STAND_IN_SETUP_MODE": "hand-over"})
        self.assertEqual(0, run.wait(180))
        self.assertGreaterEqual(run.elapsed, 70)
        steps = self.after_update_offer(run)
        self.assertNotIn(RESTORED, steps)
        self.assertEqual([BACKUP_REMOVED, "exit", ""], steps[-3:])
        self.assert_installed("2.6")

    def test_closing_the_window_during_the_install_lets_the_run_finish(self) -> None:
        self.offer(self.installer)
        run = self.start(env={"STAND_IN_SETUP_DELAY_MS": "8000"})
        self.assertTrue(self.wait_setup_log("waiting 8000 ms"))
        splash = self.machine.ui("find", "--class", WINDOW_CLASS, "--timeout", "10000")
        self.assertTrue(splash and splash[0]["found"], "no splash window")
        self.machine.ui("close", "--hwnd", str(splash[0]["hwnd"]))
        self.assertEqual(0, run.wait(60))
        steps = self.after_update_offer(run)
        self.assertIn("close ignored while installing", steps)
        self.assertEqual([BACKUP_REMOVED, "exit", ""], steps[-3:])
        self.assert_installed("2.6")

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
        self.assertFalse((Path.cwd() / BRAND["vendor_folder"]).exists())
        self.assertEqual((2, 5, 0, 0), self.machine.installed_version())

    def downloads(self) -> int:
        return len([r for r in self.service.requests() if r["path"] == "/files/Setup.exe"])

    def test_an_installer_that_never_starts_is_reused_then_held_back(self) -> None:
        # Announced with its MD5, so the same bytes can be told again without a transfer.
        self.offer(b"This is an error page, not an installer.\r\n" * 100)
        record = self.machine.download_dir.parent / (PRODUCT + ".attempts")
        for start in range(3):
            run = self.start()
            self.assertEqual(0, run.wait(60))
            steps = self.after_update_offer(run)
            self.assertEqual(start > 0, "setup reused, already downloaded and checked: "
                             + self.setup_path in steps, steps)
            self.assertIn("setup not started, no wait", steps)
            self.assertIn(f"failures={start + 1}\n", record.read_text("utf-16-le"))
            self.machine.end_stand_in_apps()
            self.machine.app_starts_log.unlink(missing_ok=True)
        self.assertEqual(1, self.downloads())
        held = self.start()
        self.assertEqual(0, held.wait(60))
        self.assertEqual(["update 2.06 held back: its install failed 3 times in a row, offered "
                          "again 24 h after the last failure or when another build is announced",
                          "exit", ""], self.after_update_offer(held))
        self.assertEqual(1, self.downloads())
        self.assert_installed("2.5")
        # Another build is announced: offered at once, its count starting afresh.
        self.machine.end_stand_in_apps()
        self.machine.app_starts_log.unlink(missing_ok=True)
        self.service.set_download(self.installer, path="/files/Setup-2.06.exe")
        self.service.set_check_reply(MD5=md5_hex(self.installer), LatestVersion="2.06",
                                     FileSize=str(len(self.installer)))
        self.assertEqual(0, self.start().wait(120))
        self.assertEqual(2, len([r for r in self.service.requests()
                                 if r["path"].startswith("/files/")]))
        self.assertFalse(record.exists())
        self.assert_installed("2.6")

    def test_a_cancelled_installer_runs_again_alone_in_its_folder_without_a_transfer(self) -> None:
        self.offer(self.installer)
        self.machine.download_dir.mkdir(parents=True)
        for planted in ("version.dll", "dbghelp.dll"):
            (self.machine.download_dir / planted).write_bytes(b"MZ planted")
        run = self.start(env={"STAND_IN_SETUP_MODE": "fail"})
        self.assertEqual(0, run.wait(150))
        steps = self.after_update_offer(run)
        self.assertEqual(["removed from download folder: dbghelp.dll",
                          "removed from download folder: version.dll"], sorted(steps[:2]))
        self.assertIn("install failed, setup exit code: 1", steps)
        # Planted again between the runs: the next start clears them before the reuse.
        (self.machine.download_dir / "version.dll").write_bytes(b"MZ planted")
        self.machine.end_stand_in_apps()
        self.machine.app_starts_log.unlink(missing_ok=True)
        again = self.start()
        self.assertEqual(0, again.wait(120))
        steps = self.after_update_offer(again)
        self.assertEqual(["removed from download folder: version.dll",
                          "setup reused, already downloaded and checked: " + self.setup_path,
                          "check whether application is running"], steps[:3])
        self.assertEqual(1, self.downloads())
        seen = [l for l in self.machine.setup_log.read_text().splitlines()
                if l.startswith("folder:")]
        folder = self.setup_path.rsplit("\\", 1)[0]
        self.assertEqual([f"folder: Setup.exe cwd={folder}"] * 2, seen)
        self.assertEqual(["arguments: []"] * 2, [l for l in self.machine.setup_log.read_text()
                                                 .splitlines() if l.startswith("arguments:")])
        self.assert_installed("2.6")


if __name__ == "__main__":
    unittest.main()

"""Faults during real runs of the release launcher.exe: each ends with nothing lost, nothing
outside the launcher's folders touched, and the behaviour a user expects."""

from __future__ import annotations

import os
import shutil
import subprocess
import tempfile
import time
import unittest
from pathlib import Path

from harness import LauncherCase, Run, md5_hex, windows_path
from update_service import build_check_reply


class FaultRun(LauncherCase):
    def setUp(self) -> None:
        super().setUp()
        self.machine.install_app("2.5")

    def offer_update(self) -> None:
        self.service.set_download(self.installer)
        self.service.set_check_reply(LatestVersion="2.06", MD5=md5_hex(self.installer))

    def answer_failure_dialog(self, key: str = "escape") -> dict:
        found = self.machine.ui("find", "--class", "#32770", "--owner-class", "LAUNCHER",
                                "--timeout", "60000", timeout=90)
        self.assertTrue(found and found[0]["found"], "no download-failure dialog")
        self.machine.ui("key", "--hwnd", str(found[0]["hwnd"]), "--key", key)
        return found[0]

    def assert_old_application_untouched(self) -> None:
        self.assertEqual((2, 5, 0, 0), self.machine.installed_version())
        time.sleep(1.0)
        self.assertEqual([], self.machine.app_starts())

    def test_disk_full_during_download_fails_the_size_check_and_keeps_the_application(self) -> None:
        mount_point = Path(tempfile.mkdtemp(prefix="launcher-full-disk-"))
        mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=256k", "tmpfs",
                                  str(mount_point)], capture_output=True)
        if mounted.returncode != 0:
            shutil.rmtree(mount_point, ignore_errors=True)
            self.skipTest("cannot mount a small tmpfs here: "
                          + mounted.stderr.decode(errors="replace").strip())
        try:
            # The download folder lives on a 256 KiB file system; the installer is bigger.
            self.machine.download_dir.parent.mkdir(parents=True, exist_ok=True)
            self.machine.download_dir.symlink_to(mount_point, target_is_directory=True)
            self.offer_update()
            run = Run(self.machine, self.service, watch=False)
            self.answer_failure_dialog()
            self.assertEqual(0, run.wait(60))
            lines = run.log_lines()
            size_lines = [l for l in lines if l.startswith("Download size(")]
            self.assertEqual(1, len(size_lines), lines)
            self.assertTrue(size_lines[0].endswith(f"not equal to server size({len(self.installer)}) "))
            self.assertIn("download error", lines)
            self.assertNotIn("delete application dir", lines)
            self.assert_old_application_untouched()
        finally:
            self.machine.download_dir.unlink(missing_ok=True)
            subprocess.run(["umount", str(mount_point)], capture_output=True)
            shutil.rmtree(mount_point, ignore_errors=True)

    def test_locked_destination_fails_at_once_and_keeps_the_locked_file(self) -> None:
        self.machine.download_dir.mkdir(parents=True, exist_ok=True)
        self.machine.setup_path.write_bytes(b"held by another program")
        holder = subprocess.Popen(["wine", str(self.machine.ui_driver), "hold-file", "--path",
                                   windows_path(self.machine.setup_path), "--ms", "60000"],
                                  stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        try:
            self.assertIn(b'"held":1', holder.stdout.readline())
            self.offer_update()
            run = Run(self.machine, self.service, watch=False)
            self.answer_failure_dialog()
            self.assertEqual(0, run.wait(60))
            lines = run.log_lines()
            self.assertIn("file open fail: C:\\users\\", "\n".join(lines))
            self.assertIn("download error", lines)
            # No request was made for the file, and the other program's file is intact.
            self.assertFalse(any(r["path"] == "/files/Setup.exe" for r in self.service.requests()))
        finally:
            holder.kill()
            holder.wait()
            holder.stdout.close()
        self.assertEqual(b"held by another program", self.machine.setup_path.read_bytes())
        self.assert_old_application_untouched()

    def test_install_keeps_read_only_files_and_never_follows_links_out_of_the_folder(self) -> None:
        outside = Path(tempfile.mkdtemp(prefix="launcher-outside-"))
        try:
            (outside / "precious.txt").write_text("must survive")
            (outside / "sub").mkdir()
            (outside / "sub" / "deep.txt").write_text("also")
            kept = self.machine.app_dir / "settings.ini"
            kept.write_text("read-only")
            os.chmod(kept, 0o444)
            (self.machine.app_dir / "maps").mkdir()
            (self.machine.app_dir / "maps" / "old.dat").write_text("old")
            (self.machine.app_dir / "outside-link").symlink_to(outside, target_is_directory=True)
            self.offer_update()
            run = Run(self.machine, self.service, watch=False)
            self.assertEqual(0, run.wait(120))

            self.assertEqual("must survive", (outside / "precious.txt").read_text())
            self.assertEqual("also", (outside / "sub" / "deep.txt").read_text())
            self.assertTrue(kept.exists())
            self.assertFalse((self.machine.app_dir / "maps").exists())
            self.assertEqual((2, 6, 0, 0), self.machine.installed_version())
            self.assertEqual(1, len(self.machine.wait_app_starts(1)))
        finally:
            link = self.machine.app_dir / "outside-link"
            if link.is_symlink():
                link.unlink()
            shutil.rmtree(outside, ignore_errors=True)

    def test_log_locked_exclusively_changes_nothing_but_the_log(self) -> None:
        self.service.set_check_reply(build_check_reply(LatestVersion="2.05"))
        self.machine.log_path.parent.mkdir(parents=True, exist_ok=True)
        self.machine.log_path.touch()
        before = self.machine.log_path.read_bytes()
        holder = subprocess.Popen(["wine", str(self.machine.ui_driver), "hold-file", "--path",
                                   windows_path(self.machine.log_path), "--ms", "30000"],
                                  stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        try:
            self.assertIn(b'"held":1', holder.stdout.readline())
            run = Run(self.machine, self.service, watch=False)
            self.assertEqual(0, run.wait(60))
            self.assertGreaterEqual(run.elapsed, 2.0)  # the no-update text was shown as usual
        finally:
            holder.kill()
            holder.wait()
            holder.stdout.close()
        self.assertEqual(before, self.machine.log_path.read_bytes())
        self.assertEqual(1, len(self.machine.wait_app_starts(1)))

    def test_server_that_closes_every_connection_counts_as_unreachable(self) -> None:
        self.service.set_mode("close")
        run = Run(self.machine, self.service, watch=False)
        self.assertEqual(0, run.wait(60))
        lines = run.log_lines()
        errors = [l for l in lines if l.startswith(("InternetOpenUrl error", "HTTP_STATUS error"))]
        self.assertEqual(3, len(errors), lines)
        self.assertEqual(["request check update error", "exit", ""], lines[-3:])
        self.assertEqual(1, len(self.machine.wait_app_starts(1)))

    def test_server_that_never_answers_leaves_the_user_able_to_close(self) -> None:
        # WinINet bounds this wait by its receive timeout (30 s on Windows; Wine's waits for
        # as long as the server holds the connection). The window stays responsive throughout.
        self.service.set_mode("hang")
        run = Run(self.machine, self.service)
        window = self.machine.ui("find", "--class", "LAUNCHER", "--timeout", "20000")[0]
        time.sleep(8)
        self.assertIsNone(run.process.poll())
        self.machine.ui("close", "--hwnd", str(window["hwnd"]))
        self.assertEqual(0, run.wait(20))
        self.assertEqual([0], run.state_codes())
        self.assertTrue(run.log_lines()[-1].startswith("http://"))
        time.sleep(1.0)
        self.assertEqual([], self.machine.app_starts())


if __name__ == "__main__":
    unittest.main()

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

from harness import (APP_EXE, WINDOW_CLASS, LauncherCase, MemoryPoll, Run, check_url, md5_hex,
                     windows_path)
from update_service import Fault, build_check_reply


class FaultRun(LauncherCase):
    def setUp(self) -> None:
        super().setUp()
        self.machine.install_app("2.5")

    def offer_update(self) -> None:
        self.service.set_download(self.installer)
        self.service.set_check_reply(LatestVersion="2.06", MD5=md5_hex(self.installer))

    def answer_failure_dialog(self, key: str = "escape") -> dict:
        found = self.machine.ui("find", "--class", "#32770", "--owner-class", WINDOW_CLASS,
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

    def test_locked_destination_keeps_the_checked_part_for_the_next_run(self) -> None:
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
            # Waited out a while, tried once more from the kept part without a request, then
            # given up; the whole, checked file stays as the part.
            failure = lines.index("download error")
            self.assertTrue(lines[failure - 1].startswith(
                f"file replace fail: {self.setup_path}, code: "), lines)
            self.assertEqual(8, len([l for l in lines if l.startswith("file replace error, code: ")
                                     and " again in " in l]), lines)
            self.assertIn("download: part already whole and checked, %d bytes"
                          % len(self.installer), lines)
            self.assertEqual(1, len([r for r in self.service.requests()
                                     if r["path"] == "/files/Setup.exe"]))
            part = self.machine.download_dir / "Setup.exe.part"
            self.assertEqual([part], list(self.machine.download_dir.glob("Setup.exe.*")))
            self.assertEqual(self.installer, part.read_bytes())
        finally:
            holder.kill()
            holder.wait()
            holder.stdout.close()
        self.assertEqual(b"held by another program", self.machine.setup_path.read_bytes())
        self.assert_old_application_untouched()

        # Let go: the next run installs from the part without downloading it again.
        downloads = [r for r in self.service.requests() if r["path"] == "/files/Setup.exe"]
        second = Run(self.machine, self.service, watch=False)
        self.assertEqual(0, second.wait(120))
        self.assertIn("download: part already whole and checked, %d bytes" % len(self.installer),
                      second.log_lines())
        self.assertEqual(downloads, [r for r in self.service.requests()
                                     if r["path"] == "/files/Setup.exe"])
        self.assertEqual((2, 6, 0, 0), self.machine.installed_version())

    def test_install_never_follows_links_out_of_the_folder(self) -> None:
        outside = Path(tempfile.mkdtemp(prefix="launcher-outside-"))
        try:
            (outside / "precious.txt").write_text("must survive")
            (outside / "sub").mkdir()
            (outside / "sub" / "deep.txt").write_text("also")
            kept = self.machine.app_dir / "settings.ini"
            backup = self.machine.app_dir.parent / (self.machine.app_dir.name + " backup")
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
            # Set aside with the old build and removed with it, the read-only file too.
            self.assertFalse((backup / "settings.ini").exists())
            self.assertEqual([APP_EXE], self.machine.folders()[0])
            self.assertEqual((2, 6, 0, 0), self.machine.installed_version())
            self.assertEqual(1, len(self.machine.wait_app_starts(1)))
        finally:
            for link in (self.machine.app_dir / "outside-link", backup / "outside-link"):
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
        # The wait ends on its own after 30 s (test_silent_servers); until then the window
        # stays responsive and closing it ends the run.
        self.service.set_mode("hang")
        run = Run(self.machine, self.service)
        window = self.machine.ui("find", "--class", WINDOW_CLASS, "--timeout", "20000")[0]
        time.sleep(8)
        self.assertIsNone(run.process.poll())
        self.machine.ui("close", "--hwnd", str(window["hwnd"]))
        self.assertEqual(0, run.wait(20))
        self.assertEqual([0], run.state_codes())
        self.assertTrue(run.log_lines()[-1].startswith("http://"))
        time.sleep(1.0)
        self.assertEqual([], self.machine.app_starts())

    def assert_check_failed_three_times(self, run: Run, line: str) -> list[str]:
        """Three failed attempts, each logged by a line beginning with `line`."""
        lines = run.log_lines()
        self.assertEqual(3, sum(l.startswith(line) for l in lines), lines)
        self.assertFalse(any(l.startswith("check update answer:") for l in lines), lines)
        self.assertEqual(["request check update error", "exit", ""], lines[-3:])
        self.assertEqual(1, len(self.machine.wait_app_starts(1)))
        return lines

    def test_reply_cut_in_the_middle_is_never_parsed(self) -> None:
        self.offer_update()
        self.service.set_fault("check", Fault.drop(100))
        run = Run(self.machine, self.service, watch=False)
        self.assertEqual(0, run.wait(60))
        self.assert_check_failed_three_times(run, "reply length error, received: 100, announced: ")
        self.assertFalse(any(r["path"] == "/files/Setup.exe" for r in self.service.requests()))

    def test_huge_reply_costs_neither_memory_nor_log(self) -> None:
        # A normal run first, as the measure of what the launcher needs anyway.
        self.service.set_check_reply(LatestVersion="2.05")
        run = Run(self.machine, self.service, watch=False)
        normal = MemoryPoll(run.process.pid)
        normal.start()
        self.assertEqual(0, run.wait(60))
        normal.join()
        self.machine.end_stand_in_apps()
        self.machine.app_starts_log.unlink(missing_ok=True)

        # 50 MB without a length: the body is read up to the limit, then dropped.
        self.service.set_fault("check", Fault(body=b"<x>" * (50_000_000 // 3), length="omit"))
        log_size = self.machine.log_size()
        run = Run(self.machine, self.service, watch=False)
        huge = MemoryPoll(run.process.pid)
        huge.start()
        self.assertEqual(0, run.wait(90))
        huge.join()
        self.assert_check_failed_three_times(run, "reply size error, limit: 1048576")
        self.assertLess(self.machine.log_size() - log_size, 10 * 1024)
        self.assertGreater(normal.private_peak, 0)
        self.assertLess(huge.private_peak, normal.private_peak + 10 * 1024 * 1024,
                        (huge.private_peak, normal.private_peak))

    def test_redirect_loop_on_the_check_ends_after_ten_redirects(self) -> None:
        self.service.set_fault("check", Fault(status=302, headers={"Location": check_url(2, 5)}))
        run = Run(self.machine, self.service, watch=False)
        self.assertEqual(0, run.wait(60))
        self.assert_check_failed_three_times(run, "redirect error, limit: 10")
        self.assertEqual(33, len(self.service.requests()))

    def test_redirect_loop_on_the_download_fails_it(self) -> None:
        self.service.set_check_reply(
            LatestVersion="2.06", ServerPath=f"{self.service.base_url}fault/redirect/",
            FileName="loop", FileSize=len(self.installer), MD5=md5_hex(self.installer))
        run = Run(self.machine, self.service, watch=False)
        self.answer_failure_dialog()
        self.assertEqual(0, run.wait(60))
        lines = run.log_lines()
        failure = lines.index("download error")
        self.assertEqual("redirect error, limit: 10", lines[failure - 1])
        self.assertEqual(11, sum(r["path"] == "/fault/redirect/loop"
                                 for r in self.service.requests()))
        self.assert_old_application_untouched()


    # -- a download cut part-way goes on from its part ---------------------------------------
    def offer(self, data: bytes, fault: Fault | None = None, md5: str | None = None,
              **served) -> None:
        self.service.set_download(data, fault=fault, **served)
        self.service.set_check_reply(LatestVersion="2.06", MD5=md5 or md5_hex(data))

    def installed_without_dialog(self, data: bytes) -> list[str]:
        run = Run(self.machine, self.service, watch=False)
        self.assertEqual(0, run.wait(120))
        self.assertNotIn("download error", run.log_lines())
        self.assertEqual((2, 6, 0, 0), self.machine.installed_version())
        self.assertEqual(data, self.machine.setup_path.read_bytes())
        self.assertEqual([], list(self.machine.download_dir.glob("Setup.exe.*")))
        return run.log_lines()

    def test_10_mb_cut_at_60_percent_fetches_only_the_rest_without_the_dialog(self) -> None:
        data = self.installer + bytes(10_000_000 - len(self.installer))
        self.offer(data, Fault(cut_at=6_000_000, times=1))
        lines = self.installed_without_dialog(data)
        self.assertIn("download interrupted, resume: 1 of 5", lines)
        self.assertIn("download resume: from 6000000 of 10000000 bytes", lines)
        self.assertEqual(10_000_000, self.service.bytes_served())  # 16 MB when starting again

    def test_server_that_cannot_continue_sends_the_whole_file_again(self) -> None:
        size = len(self.installer)
        for served in ({"ranges": False}, {"changing_validator": True}):
            with self.subTest(**served):
                self.setUp()
                self.offer(self.installer, Fault(cut_at=size * 6 // 10, times=1), **served)
                lines = self.installed_without_dialog(self.installer)
                self.assertIn("download resume: refused, status: 200", lines)
                self.assertEqual(size * 6 // 10 + size, self.service.bytes_served())

    def test_launcher_ended_mid_download_resumes_from_its_part_next_time(self) -> None:
        size, part = len(self.installer), self.machine.download_dir / "Setup.exe.part"
        self.offer(self.installer, Fault.slow(16384, 100))
        first = Run(self.machine, self.service, watch=False)
        end = time.monotonic() + 60
        while (not part.exists() or part.stat().st_size < size // 2) and time.monotonic() < end:
            time.sleep(0.1)
        first.kill()
        kept = part.stat().st_size
        self.assertFalse(self.machine.setup_path.exists())

        self.offer(self.installer)
        self.assertIn(f"download resume: from {kept} of {size} bytes",
                      self.installed_without_dialog(self.installer))
        # At most what was in flight when the launcher ended is fetched twice.
        self.assertLess(self.service.bytes_served(), size + size // 4)

    def test_resumed_file_with_a_wrong_md5_fails_into_the_dialog(self) -> None:
        self.offer(self.installer, Fault(cut_at=len(self.installer) * 6 // 10, times=1),
                   md5="0" * 32)
        run = Run(self.machine, self.service, watch=False)
        self.answer_failure_dialog()
        self.assertEqual(0, run.wait(60))
        lines = run.log_lines()
        self.assertIn("download interrupted, resume: 1 of 5", lines)
        self.assertTrue(lines[lines.index("download error") - 1].startswith("Download MD5("))
        self.assertFalse(self.machine.setup_path.exists())
        self.assertEqual([], list(self.machine.download_dir.glob("Setup.exe.*")))
        self.assert_old_application_untouched()


if __name__ == "__main__":
    unittest.main()

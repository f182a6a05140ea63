"""Servers that answer as an attacker would: headers that never end, a body that runs past the
announced size, a download that stalls on a server without ranges. Each run ends within the
documented bounds. Slow (about five minutes, on the real 60 s limits): kept apart so that it
runs beside the rest."""

from __future__ import annotations

import time
import unittest

from harness import WINDOW_CLASS, Fault, LauncherCase, Run, md5_hex

MIB = 1024 * 1024


class HostileServer(LauncherCase):
    def setUp(self) -> None:
        super().setUp()
        self.machine.install_app("2.5")

    def failure_dialog_after(self, run: Run, seconds: int) -> float:
        """Escapes the download-failure dialog; returns when it appeared after the start."""
        found = self.machine.ui("find", "--class", "#32770", "--owner-class", WINDOW_CLASS,
                                "--timeout", str(seconds * 1000), timeout=seconds + 30)
        shown_after = time.monotonic() - run.started
        self.assertTrue(found and found[0]["found"], "no download-failure dialog")
        self.machine.ui("key", "--hwnd", str(found[0]["hwnd"]), "--key", "escape")
        self.assertEqual(0, run.wait(30))
        return shown_after

    def test_headers_that_never_end_fail_each_check_attempt_at_its_deadline(self) -> None:
        # A status line, then a header byte every 3 s: never silent, never done.
        self.service.set_fault("check", Fault(header_trickle=3000))
        run = Run(self.machine, self.service, watch=False)
        self.assertEqual(0, run.wait(260))
        # Three attempts of 60 s, two pauses of 1 s, the failure shown for 3 s.
        self.assertLess(run.elapsed, 200)
        lines = run.log_lines()
        self.assertEqual(3, lines.count("receive timeout error, seconds: 60"), lines)
        self.assertEqual(["request check update error", "exit", ""], lines[-3:])
        self.assertEqual(["started 2.5"],
                         [s.split(" pid=")[0] for s in self.machine.wait_app_starts(1)])

    def test_body_past_the_announced_size_fails_without_a_resume(self) -> None:
        size = len(self.installer)
        self.service.set_download(self.installer, fault=Fault(overrun=20 * MIB))
        self.service.set_check_reply(LatestVersion="2.06", MD5=md5_hex(self.installer))
        run = Run(self.machine, self.service)
        self.failure_dialog_after(run, 60)
        lines = run.log_lines()
        failure = lines.index("download error")
        self.assertTrue(lines[failure - 1].startswith("Download size("), lines)
        self.assertTrue(lines[failure - 1].endswith(f"not equal to server size({size}) "), lines)
        self.assertFalse(any(l.startswith("download interrupted") for l in lines), lines)
        self.assertEqual(1, sum(r["path"] == "/files/Setup.exe" for r in self.service.requests()))
        # Nothing past the announced size was kept, and the window never showed more than 100 %.
        self.assertEqual([], list(self.machine.download_dir.glob("Setup.exe*")))
        self.assertLessEqual(max(s.get("progress", 0) for s in run.states()), 100)
        self.assertEqual((2, 5, 0, 0), self.machine.installed_version())

    def test_stall_without_ranges_reaches_the_dialog_after_one_resume(self) -> None:
        # 100 000 bytes, then silence; every resume is answered with the whole file again.
        self.service.set_download(self.installer, fault=Fault(trickle=(100_000, 300_000)),
                                  ranges=False)
        self.service.set_check_reply(LatestVersion="2.06", MD5=md5_hex(self.installer))
        run = Run(self.machine, self.service, watch=False)
        # The first silence, one resume that gets no further than the first attempt.
        self.assertLess(self.failure_dialog_after(run, 180), 135)
        lines = run.log_lines()
        self.assertEqual(2, lines.count("receive timeout error, seconds: 60"), lines)
        self.assertIn("download interrupted, resume: 1 of 5", lines)
        self.assertIn("download resume: refused, status: 200", lines)
        self.assertNotIn("download interrupted, resume: 2 of 5", lines)
        self.assertEqual((2, 5, 0, 0), self.machine.installed_version())


if __name__ == "__main__":
    unittest.main()

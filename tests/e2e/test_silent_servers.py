"""Servers that go quiet or nearly so: every wait ends on its own and the run goes on as for
any other network failure. Slow (about six minutes): kept apart so that it can run beside the
rest."""

from __future__ import annotations

import time
import unittest

from harness import WINDOW_CLASS, Fault, LauncherCase, Run, md5_hex


class SilentServer(LauncherCase):
    def setUp(self) -> None:
        super().setUp()
        self.machine.install_app("2.5")

    def test_service_that_accepts_and_never_answers_ends_the_check(self) -> None:
        self.service.set_mode("hang")
        run = Run(self.machine, self.service, watch=False)
        self.assertEqual(0, run.wait(150))
        # Three attempts of 30 s with their pauses, then the failure shown for 3 s.
        self.assertLess(run.elapsed, 105)
        lines = run.log_lines()
        self.assertEqual(3, lines.count("receive timeout error, seconds: 30"), lines)
        self.assertEqual(["request check update error", "exit", ""], lines[-3:])
        self.assertEqual(1, len(self.machine.wait_app_starts(1)))

    def test_reply_sent_a_byte_a_second_ends_the_check(self) -> None:
        # Never silent for 30 s, but no reply is worth a minute per attempt.
        self.service.set_fault("check", Fault.slow(1, 1000))
        run = Run(self.machine, self.service, watch=False)
        self.assertEqual(0, run.wait(260))
        lines = run.log_lines()
        self.assertEqual(3, lines.count("receive timeout error, seconds: 60"), lines)
        self.assertFalse(any(l.startswith("check update answer:") for l in lines), lines)
        self.assertEqual(["request check update error", "exit", ""], lines[-3:])
        self.assertEqual(1, len(self.machine.wait_app_starts(1)))

    def test_download_that_stops_arriving_is_resumed_until_a_resume_brings_nothing(self) -> None:
        # 100 000 bytes, then silence: a first read of 64 KiB, then the read waiting for a
        # larger piece runs into the limit. The first resume gets the rest up to the cut at
        # byte 131 070, the second no byte.
        self.service.set_download(self.installer,
                                  fault=Fault(trickle=(100_000, 300_000), cut_at=131_070))
        self.service.set_check_reply(LatestVersion="2.06", MD5=md5_hex(self.installer))
        run = Run(self.machine, self.service, watch=False)
        found = self.machine.ui("find", "--class", "#32770", "--owner-class", WINDOW_CLASS,
                                "--timeout", "120000", timeout=150)
        shown_after = time.monotonic() - run.started
        self.assertTrue(found and found[0]["found"], "no download-failure dialog")
        self.assertLess(shown_after, 80)
        self.machine.ui("key", "--hwnd", str(found[0]["hwnd"]), "--key", "escape")
        self.assertEqual(0, run.wait(30))
        lines = run.log_lines()
        self.assertEqual(1, lines.count("receive timeout error, seconds: 60"), lines)
        self.assertIn("download interrupted, resume: 2 of 5", lines)
        self.assertTrue(lines[lines.index("download error") - 1].startswith("Download size("))
        self.assertEqual((2, 5, 0, 0), self.machine.installed_version())


if __name__ == "__main__":
    unittest.main()

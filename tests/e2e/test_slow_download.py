"""A slow but steady link: the installer at 4 KiB/s takes longer than any silence limit and is
still installed. Slow (about two and a half minutes): kept apart so that it can run beside the
rest."""

from __future__ import annotations

import unittest

from harness import Fault, LauncherCase, Run, md5_hex


class SlowDownload(LauncherCase):
    def test_installer_trickled_at_4_kib_per_second_is_installed(self) -> None:
        self.machine.install_app("2.5")
        self.service.set_download(self.installer, fault=Fault.slow(4096, 1000))
        self.service.set_check_reply(LatestVersion="2.06", MD5=md5_hex(self.installer))
        run = Run(self.machine, self.service, watch=False)
        self.assertEqual(0, run.wait(len(self.installer) / 4096 + 90))
        self.assertGreater(run.elapsed, len(self.installer) / 4096 - 5)
        lines = run.log_lines()
        self.assertNotIn("download error", lines)
        self.assertEqual((2, 6, 0, 0), self.machine.installed_version())
        self.assertEqual(1, len(self.machine.wait_app_starts(1)))


if __name__ == "__main__":
    unittest.main()

"""Every road of a launcher run, end to end: the release launcher.exe under Wine and Xvfb
against the test update service, asserting the exact log lines, the exit code, the files left
behind, whether the application was started, and the states the window showed."""

from __future__ import annotations

import unittest

from harness import Fault, Machine, Run, UpdateService, md5_hex, preamble


class Scenario(unittest.TestCase):
    machine: Machine
    service: UpdateService

    @classmethod
    def setUpClass(cls) -> None:
        cls.machine = Machine()
        cls.service = UpdateService().start()
        cls.installer = cls.machine.fixture("setup-2.6", "Setup.exe").read_bytes()

    @classmethod
    def tearDownClass(cls) -> None:
        cls.service.stop()
        cls.machine.reset()

    def setUp(self) -> None:
        self.machine.reset()
        self.service.reset()

    def offer(self, version: str = "2.06", *, visible: bool = True, **fields) -> None:
        """Offers the 2.6 installer. `visible` slows the reply and the download down enough
        for every state, and several percentages, to stay on screen for a while."""
        self.service.set_download(self.installer, fault=Fault.slow(32768, 60) if visible else None)
        self.service.set_check_reply(LatestVersion=version,
                                     fault=Fault.slow(64, 100) if visible else None, **fields)


class UpdateRoads(Scenario):
    def test_update_is_downloaded_installed_and_running_at_the_end(self) -> None:
        self.machine.install_app("2.5")
        self.offer("2.06", MD5=md5_hex(self.installer))
        run = Run(self.machine, self.service)
        self.assertEqual(0, run.wait(120))

        lines = run.log_lines()
        setup = str(self.machine.setup_path).replace(str(self.machine.temp), "")
        expected = preamble(2, 5)
        self.assertEqual(expected, lines[:len(expected)])
        rest = lines[len(expected):]
        self.assertEqual("check update answer:", rest[0])
        self.assertIn("has update", rest)
        after = rest[rest.index("has update"):]
        self.assertEqual("has update", after[0])
        self.assertTrue(after[1].startswith("download: http://127.0.0.1:"), after[1])
        self.assertTrue(after[1].endswith("\\Osker\\Osker Map Updater\\Setup.exe"), after[1])
        self.assertEqual(["check whether application is running", "delete application dir"],
                         after[2:4])
        self.assertTrue(after[4].startswith("run setup: C:\\users\\"), after[4])
        self.assertTrue(after[5].startswith("Wait Application run: retrun code : "), after[5])
        self.assertGreater(int(after[5].rsplit(" ", 1)[1]), 31)
        self.assertEqual(["exit", ""], after[6:])
        del setup

        self.assertEqual((2, 6, 0, 0), self.machine.installed_version())
        self.assertEqual(self.installer, self.machine.setup_path.read_bytes())
        starts = self.machine.wait_app_starts(1)
        self.assertEqual(1, len(starts), starts)
        self.assertTrue(starts[0].startswith("started 2.6"), starts)
        self.assertEqual([0, 5, 8], run.state_codes(), run.states())
        shown = [s["progress"] for s in run.states() if s["state"] == 5]
        self.assertEqual(shown, sorted(shown))
        self.assertEqual(0, shown[0])
        self.assertGreaterEqual(shown[-1], 90, run.watch_log)
        self.assertGreater(len(shown), 5, run.watch_log)


if __name__ == "__main__":
    unittest.main()

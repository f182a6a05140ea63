"""The install step with the application running, end to end: the release launcher.exe offered
2.6 while the stand-in 2.5 runs, and the Retry/Cancel prompt answered the way a user would."""

from __future__ import annotations

import subprocess
import time
import unittest

from harness import (APP_EXE, BACKUP_REMOVED, BRAND, SET_ASIDE, WINDOW_CLASS, LauncherCase, Run,
                     md5_hex)

CAPTION = BRAND["product_zh_tw"] + "正在執行"
TEXT = "請先關閉 " + BRAND["product_zh_tw"]
IDRETRY, IDCANCEL = 4, 2


class ApplicationRunningDuringInstall(LauncherCase):
    def setUp(self) -> None:
        super().setUp()
        self.machine.install_app("2.5")
        self.app = subprocess.Popen(["wine", str(self.machine.app_dir / APP_EXE)],
                                    stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                    stderr=subprocess.DEVNULL)
        self.assertEqual(1, len(self.machine.wait_app_starts(1, timeout=30)))
        self.service.set_download(self.installer)
        self.service.set_check_reply(LatestVersion="2.06", MD5=md5_hex(self.installer))
        self.launcher = Run(self.machine, self.service, watch=False)

    def tearDown(self) -> None:
        if self.launcher.process.poll() is None:
            # Only this run's process: other launchers may be running beside this one.
            self.launcher.process.kill()
            self.launcher.process.wait(timeout=30)
        self.machine.end_stand_in_apps()
        try:
            self.app.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.app.kill()

    def prompt(self, not_this: int | None = None, timeout: float = 60) -> dict:
        """The prompt owned by the splash window (another than `not_this`), with its controls."""
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            found = self.machine.ui("find", "--class", "#32770", "--owner-class", WINDOW_CLASS,
                                    "--timeout", "2000")
            if found and found[0].get("found") and found[0]["hwnd"] != not_this:
                box = found[0]
                box["controls"] = {c["child"]: c["text"] for c in found[1:]}
                return box
        self.fail("no prompt within %s s; log: %s" % (timeout, self.launcher.log_lines()[-3:]))

    def showing(self, box: dict) -> bool:
        found = self.machine.ui("find", "--class", "#32770", "--owner-class", WINDOW_CLASS,
                                "--timeout", "200")
        return bool(found and found[0].get("found") and found[0]["hwnd"] == box["hwnd"])

    def press(self, box: dict, button: int, timeout: float = 30) -> None:
        """Clicks a button of the prompt until the prompt goes. A click that arrives while the
        new prompt is still taking the focus can be lost; a repeated one aimed at a prompt
        that has gone meanwhile reaches nothing, so no later prompt gets it."""
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            self.machine.ui("click", "--hwnd", str(box["hwnd"]), "--id", str(button))
            settle = time.monotonic() + 2
            while time.monotonic() < settle:
                if not self.showing(box):
                    return
        self.fail("the prompt stayed after clicking button %d" % button)

    def check_prompt(self, box: dict) -> None:
        self.assertEqual(CAPTION, box["title"])
        self.assertIn(TEXT, box["controls"].values())
        self.assertIn(IDRETRY, box["controls"])
        self.assertIn(IDCANCEL, box["controls"])
        self.assertFalse(box["owner_enabled"])

    def step_lines(self) -> list[str]:
        lines = self.launcher.log_lines()
        return lines[lines.index("has update") + 2:] if "has update" in lines else lines

    def test_retry_asks_again_while_it_runs_and_installs_once_it_is_closed(self) -> None:
        box = self.prompt()
        self.check_prompt(box)
        self.press(box, IDRETRY)
        again = self.prompt(not_this=box["hwnd"])
        self.check_prompt(again)
        self.assertEqual(["check whether application is running"], self.step_lines())

        self.machine.end_stand_in_apps()
        self.app.wait(timeout=30)
        self.press(again, IDRETRY)
        self.assertEqual(0, self.launcher.wait(120))

        lines = self.step_lines()
        self.assertEqual(["check whether application is running", "delete application dir",
                          SET_ASIDE, "run setup: " + self.setup_path], lines[:4])
        self.assertRegex(lines[4], r"^Wait Application run: retrun code : \d+$")
        self.assertGreater(int(lines[4].rsplit(" ", 1)[1]), 31)
        self.assertEqual([BACKUP_REMOVED, "exit", ""], lines[5:])
        self.assertEqual((2, 6, 0, 0), self.machine.installed_version())
        starts = self.machine.wait_app_starts(2)
        self.assertEqual(["started 2.5", "started 2.6"], [s.split(" pid=")[0] for s in starts])

    def test_cancel_leaves_the_running_application_alone(self) -> None:
        box = self.prompt()
        self.check_prompt(box)
        self.press(box, IDCANCEL)
        self.assertEqual(0, self.launcher.wait(60))

        self.assertEqual(["check whether application is running", "exit", ""], self.step_lines())
        self.assertIsNone(self.app.poll(), "the running application was ended")
        self.assertEqual((2, 5, 0, 0), self.machine.installed_version())
        self.assertEqual(self.installer, self.machine.setup_path.read_bytes())
        self.assertFalse(self.machine.setup_log.exists())
        time.sleep(1.0)
        self.assertEqual(1, len(self.machine.app_starts()))


if __name__ == "__main__":
    unittest.main()

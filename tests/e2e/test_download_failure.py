"""A download that fails, end to end: the release launcher.exe under Wine and Xvfb against the
test update service, with its dialogs found, read and answered the way a person would, and the
log, the exit code, the installed version and the application's starts checked afterwards."""

from __future__ import annotations

import time
import unittest

from harness import BACKUP_REMOVED, SET_ASIDE, WINDOW_CLASS, Fault, LauncherCase, Run, preamble

FAILURE_TITLE = "無法下載"
MANUAL_TITLE = "請按照以下步驟操作"
RETRY, MANUAL, EXPLANATION = 4, 1003, 1012
COPY_LINK, INSTRUCTIONS = 1004, 1002


def instructions(link: str, file_name: str) -> str:
    return ("1、請複製此下載連結：\r\n" + link + "\r\n使用其它瀏覽器或下載軟體進行下載。\r\n\r\n"
            "2、下載完成後執行“" + file_name + "”，安裝將在背景執行，請耐心等待1-2分鐘。")


class DownloadFailure(LauncherCase):
    @classmethod
    def setUpClass(cls) -> None:
        super().setUpClass()
        cls.link = cls.service.base_url + "files/Setup.exe"

    def setUp(self) -> None:
        super().setUp()
        # The installed 2.5 is not running, so an ended run that started it would show.
        self.machine.install_app("2.5")
        self.service.set_download(self.installer, fault=Fault.http_status(500))
        self.service.set_check_reply(LatestVersion="2.06")

    def start(self, watch: bool = False) -> Run:
        run = Run(self.machine, self.service, watch=watch)
        self.addCleanup(self.end, run)
        return run

    @staticmethod
    def end(run: Run) -> None:
        """A run that a failed test left behind ends here, so the next one starts alone."""
        for process in (run.process, run.watcher):
            if process and process.poll() is None:
                process.kill()
                process.wait(10)

    # -- a person at the screen -----------------------------------------------------------
    def dialog(self, title: str, timeout_ms: int = 30000) -> tuple[dict, dict]:
        """The visible dialog with this caption owned by the splash window, and its controls
        by identifier."""
        found = self.machine.ui("find", "--class", "#32770", "--title", title,
                                "--owner-class", WINDOW_CLASS, "--timeout", str(timeout_ms),
                                timeout=timeout_ms / 1000 + 30)
        if not (found and found[0].get("found")):
            shown = self.machine.ui("find", "--class", "#32770", "--timeout", "0")
            self.fail(f"no dialog {title!r}; shown: {shown}")
        return found[0], {item["child"]: item for item in found[1:]}

    def absent(self, title: str, timeout_ms: int) -> bool:
        found = self.machine.ui("find", "--class", "#32770", "--title", title,
                                "--timeout", str(timeout_ms), timeout=timeout_ms / 1000 + 30)
        return bool(found) and not found[0].get("found")

    def click(self, window: dict, control: int) -> None:
        self.machine.ui("click", "--hwnd", str(window["hwnd"]), "--id", str(control))

    def key(self, window: dict, name: str) -> None:
        self.machine.ui("key", "--hwnd", str(window["hwnd"]), "--key", name)

    def clipboard(self) -> str | None:
        read = self.machine.ui("clipboard")
        return read[0]["text"] if read and read[0]["present"] else None

    def wait_for_log(self, run: Run, line: str, count: int, timeout: float = 30) -> list[str]:
        end = time.monotonic() + timeout
        while run.log_lines().count(line) < count and time.monotonic() < end:
            time.sleep(0.1)
        return run.log_lines()

    # -- what the run left ----------------------------------------------------------------
    def after_has_update(self, lines: list[str]) -> list[str]:
        self.assertIn("has update", lines)
        return lines[lines.index("has update") + 1:]

    def download_line(self) -> str:
        return f"download: {self.link} to {self.setup_path}"

    def failure_dialog(self) -> dict:
        """The download-failure dialog as a person sees it: its texts, over the disabled
        splash window, in the middle of the screen."""
        window, controls = self.dialog(FAILURE_TITLE)
        self.assertEqual("請重試或進行手動下載", controls[EXPLANATION]["text"])
        self.assertEqual("重試", controls[RETRY]["text"])
        self.assertEqual("手動", controls[MANUAL]["text"])
        self.assertEqual(0, window["owner_enabled"])
        left, top, right, bottom = window["rect"]
        width, height = window["screen"]
        self.assertEqual([(width - (right - left)) // 2, (height - (bottom - top)) // 2],
                         [left, top])
        return window

    def assert_ended_without_starting_the_application(self, run: Run) -> None:
        self.assertEqual(0, run.wait(60))
        self.assertEqual([self.download_line(), "HTTP_STATUS error, code: 500", "download error",
                          "exit", ""], self.after_has_update(run.log_lines()))
        self.assertEqual((2, 5, 0, 0), self.machine.installed_version())
        self.assertEqual([], self.machine.wait_app_starts(1, timeout=3))

    # -- the roads --------------------------------------------------------------------------
    def test_retry_resumes_from_the_part_until_it_succeeds(self) -> None:
        # A slow reply keeps the checking state on screen long enough to be seen.
        self.service.set_check_reply(LatestVersion="2.06", fault=Fault.slow(64, 100))
        run = self.start(watch=True)
        first = self.failure_dialog()
        self.assertEqual([self.download_line(), "HTTP_STATUS error, code: 500", "download error"],
                         self.after_has_update(run.log_lines()))

        # Retry while the service keeps failing: the dialog comes back.
        self.click(first, RETRY)
        self.wait_for_log(run, "download error", 2)
        second = self.failure_dialog()
        self.assertNotEqual(first["hwnd"], second["hwnd"])

        # The next attempt stops halfway, and so does every resume: one brings no new byte.
        size, half = len(self.installer), len(self.installer) // 2
        served = self.service.bytes_served()
        self.service.set_download(self.installer, fault=Fault(cut_at=half, trickle=(32768, 60)))
        self.click(second, RETRY)
        self.wait_for_log(run, "download error", 3)
        third = self.failure_dialog()

        # Mended service: the last Retry fetches only the rest, installs and starts 2.6.
        self.service.set_download(self.installer, fault=Fault.slow(32768, 60))
        self.click(third, RETRY)
        self.assertEqual(0, run.wait(120))

        rest = self.after_has_update(run.log_lines())
        failing = [self.download_line(), "HTTP_STATUS error, code: 500", "download error"]
        cut = f"Download size({half}) not equal to server size({size}) "
        resume = f"download resume: from {half} of {size} bytes"
        self.assertEqual(failing + failing + [
            self.download_line(), cut, "download interrupted, resume: 1 of 5",
            self.download_line(), resume, cut, "download error",
            self.download_line(), resume,
            "check whether application is running",
            "delete application dir", SET_ASIDE], rest[:18])
        self.assertTrue(rest[18].startswith("run setup: C:\\users\\"), rest[18])
        self.assertTrue(rest[19].startswith("Wait Application run: retrun code : "), rest[19])
        self.assertEqual([BACKUP_REMOVED, "exit", ""], rest[20:])
        self.assertEqual((2, 6, 0, 0), self.machine.installed_version())
        starts = self.machine.wait_app_starts(1)
        self.assertEqual(1, len(starts), starts)
        self.assertTrue(starts[0].startswith("started 2.6"), starts)
        self.assertEqual(size, self.service.bytes_served() - served)

        # The percentage counts the whole file: after the cut it goes on from half, never 0.
        self.assertEqual([0, 5, 8], run.state_codes(), run.watch_log)
        shown = [s["progress"] for s in run.states() if s["state"] == 5]
        self.assertEqual(sorted(shown), shown)
        self.assertIn(half * 100 // size, shown)
        self.assertGreaterEqual(shown[-1], 90, shown)

    def test_manual_shows_the_link_copies_it_and_closing_ends_without_starting(self) -> None:
        run = self.start()
        failure = self.failure_dialog()
        self.click(failure, MANUAL)

        manual, controls = self.dialog(MANUAL_TITLE)
        self.assertEqual(instructions(self.link, "Setup.exe"), controls[INSTRUCTIONS]["text"])
        self.assertEqual("複製連結", controls[COPY_LINK]["text"])
        self.assertEqual(0, manual["owner_enabled"])
        self.assertNotEqual(self.link, self.clipboard(), "the link is already on the clipboard")

        self.key(manual, "enter")
        self.assertEqual(self.link, self.clipboard())
        still, _ = self.dialog(MANUAL_TITLE, timeout_ms=2000)
        self.assertEqual(manual["hwnd"], still["hwnd"])

        self.machine.ui("close", "--hwnd", str(manual["hwnd"]))
        self.assert_ended_without_starting_the_application(run)

    def test_retry_then_manual_ends_without_starting(self) -> None:
        run = self.start()
        self.click(self.failure_dialog(), RETRY)
        self.wait_for_log(run, "download error", 2)
        self.click(self.failure_dialog(), MANUAL)
        manual, _ = self.dialog(MANUAL_TITLE)
        self.machine.ui("close", "--hwnd", str(manual["hwnd"]))
        self.assertEqual(0, run.wait(60))

        lines = run.log_lines()
        expected = preamble(2, 5)
        self.assertEqual(expected, lines[:len(expected)])
        failing = [self.download_line(), "HTTP_STATUS error, code: 500", "download error"]
        self.assertEqual(failing + failing + ["exit", ""], self.after_has_update(lines))
        self.assertEqual((2, 5, 0, 0), self.machine.installed_version())
        self.assertEqual([], self.machine.wait_app_starts(1, timeout=3))

    def test_escape_ends_the_run_without_the_manual_dialog(self) -> None:
        run = self.start()
        failure = self.failure_dialog()

        # A click into the sentence is no answer.
        self.click(failure, EXPLANATION)
        time.sleep(0.5)
        still, _ = self.dialog(FAILURE_TITLE, timeout_ms=2000)
        self.assertEqual(failure["hwnd"], still["hwnd"])

        self.key(failure, "escape")
        self.assertTrue(self.absent(MANUAL_TITLE, 3000), "the manual dialog was shown")
        self.assert_ended_without_starting_the_application(run)


if __name__ == "__main__":
    unittest.main()

"""Every road of a launcher run, end to end: the release launcher.exe under Wine and Xvfb
against the test update service, asserting the exact log lines, the exit code, the files left
behind, whether the application was started, and the states the window showed."""

from __future__ import annotations

import re
import subprocess
import time
import unittest

from harness import (APP_DIR, APP_EXE, BACKUP_REMOVED, BRAND, RESTORED, SET_ASIDE, WINDOW_CLASS,
                     Fault, LauncherCase, Run, md5_hex, preamble, windows_path)
from update_service import build_check_reply, unreachable_port


class Scenario(LauncherCase):
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
        self.assertTrue(after[1].endswith(f"\\{BRAND['vendor_folder']}\\{BRAND['product_folder']}"
                                          "\\Setup.exe"), after[1])
        self.assertEqual(["check whether application is running", "delete application dir",
                          SET_ASIDE], after[2:5])
        self.assertTrue(after[5].startswith("run setup: C:\\users\\"), after[5])
        self.assertTrue(after[6].startswith("Wait Application run: retrun code : "), after[6])
        self.assertGreater(int(after[6].rsplit(" ", 1)[1]), 31)
        self.assertEqual([BACKUP_REMOVED, "exit", ""], after[7:])
        del setup

        self.assertEqual((2, 6, 0, 0), self.machine.installed_version())
        self.assertEqual(([APP_EXE], [BRAND["product_folder"]]), self.machine.folders())
        self.assertEqual(self.installer, self.machine.setup_path.read_bytes())
        starts = self.machine.wait_app_starts(1)
        self.assertEqual(1, len(starts), starts)
        self.assertTrue(starts[0].startswith("started 2.6"), starts)
        self.assertEqual([0, 5, 8], run.state_codes(), run.states())
        shown = [s["progress"] for s in run.states() if s["state"] == 5]
        self.assertEqual(shown, sorted(shown))
        self.assertEqual(0, shown[0])
        # 100 % may give way to the install state within milliseconds; the percentage before
        # it, one slow read of 64 KiB earlier, stays on screen.
        self.assertGreaterEqual(shown[-1], 100 - -(-100 * 65536 // len(self.installer)),
                                run.watch_log)
        self.assertGreater(len(shown), 5, run.watch_log)


    def test_a_scanner_holding_the_fresh_installer_is_waited_out(self) -> None:
        """A virus scanner takes every new executable for a look, sharing nothing, for 3 s."""
        self.machine.install_app("2.5")
        self.offer("2.06", visible=False, MD5=md5_hex(self.installer))
        scanner = subprocess.Popen(
            ["wine", str(self.machine.ui_driver), "hold-file", "--path",
             windows_path(self.machine.setup_path), "--when-present", "1", "--ms", "3000",
             "--timeout", "120000"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        try:
            self.assertIn(b'"waiting":1', scanner.stdout.readline())
            run = Run(self.machine, self.service, watch=False)
            self.assertEqual(0, run.wait(120))
            self.assertIn(b'"held":1', scanner.stdout.readline())
        finally:
            scanner.kill()
            scanner.wait()
            scanner.stdout.close()

        lines = run.log_lines()
        # Waited out where the installer is first opened after its download: to be checked and
        # held, or, once held, to be started.
        waits = [l for l in lines if l.startswith(("setup open error, code: ",
                                                   "CreateProcess error, code: "))]
        self.assertTrue(waits, lines)
        self.assertTrue(all(", code: 32, again in " in l for l in waits), waits)
        code = [l for l in lines if l.startswith("Wait Application run: retrun code : ")]
        self.assertEqual(["Wait Application run: retrun code : 33"], code)
        self.assertIn(BACKUP_REMOVED, lines)
        self.assertEqual((2, 6, 0, 0), self.machine.installed_version())
        self.assertEqual(1, len([r for r in self.service.requests()
                                 if r["path"] == "/files/Setup.exe"]))
        starts = self.machine.wait_app_starts(1)
        self.assertEqual(["started 2.6"], [s.split(" pid=")[0] for s in starts])


def reply_lines(body: bytes) -> list[str]:
    """How a reply body shows in the log: after "check update answer:", each of its lines (ended
    by CR LF, CR or LF) on a line of its own that starts with a blank."""
    return ["check update answer:"] + [" " + l for l in re.split("\r\n|\r|\n",
                                                                   body.decode("utf-8"))]


class CheckRoads(Scenario):
    def test_no_update_starts_the_installed_application_once(self) -> None:
        self.machine.install_app("2.5")
        body = build_check_reply(LatestVersion="2.05")
        self.service.set_check_reply(body, fault=Fault.slow(64, 100))
        run = Run(self.machine, self.service)
        self.assertEqual(0, run.wait(60))

        self.assertEqual(preamble(2, 5) + reply_lines(body) + ["no update", "exit", ""],
                         run.log_lines())
        self.assertEqual([0, 2], run.state_codes())
        self.assertGreaterEqual(run.elapsed, 2.0)
        starts = self.machine.wait_app_starts(1)
        self.assertEqual(["started 2.5"], [s.split(" pid=")[0] for s in starts])
        self.assertFalse(self.machine.setup_path.exists())
        requests = [r for r in self.service.requests() if r["path"] == BRAND["check_path"]]
        self.assertEqual(1, len(requests))
        self.assertEqual(f"SKU={BRAND['sku']}&Major=2&Minor=5", requests[0]["query"])

    def test_already_running_application_is_not_started_again(self) -> None:
        self.machine.install_app("2.5")
        first = Run(self.machine, self.service, env={"http_proxy": "http://127.0.0.1:%d/" % unreachable_port()},
                    watch=False)
        self.assertEqual(0, first.wait(60))
        self.assertEqual(1, len(self.machine.wait_app_starts(1)))
        self.offer("2.05")
        second = Run(self.machine, self.service, watch=False)
        self.assertEqual(0, second.wait(60))
        self.assertIn("no update", second.log_lines())
        time.sleep(1.0)
        self.assertEqual(1, len(self.machine.app_starts()))

    def test_application_started_by_a_capitalised_path_is_not_started_again(self) -> None:
        # Windows reports the starter's spelling: a shortcut written in capitals.
        self.machine.install_app("2.5")
        app = subprocess.Popen(
            ["wine", f"{APP_DIR}\\{APP_EXE}".upper()],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            self.assertEqual(1, len(self.machine.wait_app_starts(1, timeout=30)))
            self.service.set_check_reply(build_check_reply(LatestVersion="2.05"))
            run = Run(self.machine, self.service, watch=False)
            self.assertEqual(0, run.wait(60))
            self.assertIn("no update", run.log_lines())
            time.sleep(1.0)
            self.assertEqual(1, len(self.machine.app_starts()), self.machine.app_starts())
        finally:
            self.machine.end_stand_in_apps()
            app.wait(30)

    def test_service_unreachable_starts_what_is_installed(self) -> None:
        self.machine.install_app("2.5")
        run = Run(self.machine, self.service,
                  env={"http_proxy": "http://127.0.0.1:%d/" % unreachable_port()})
        self.assertEqual(0, run.wait(60))
        lines = run.log_lines()
        expected = preamble(2, 5)
        self.assertEqual(expected, lines[:len(expected)])
        failures = lines[len(expected):-3]
        self.assertEqual(3, len(failures), lines)
        for line in failures:
            self.assertRegex(line, r"^InternetOpenUrl error, code: \d+$")
        self.assertEqual(["request check update error", "exit", ""], lines[-3:])
        self.assertGreaterEqual(run.elapsed, 6.0)  # three 1 s pauses, then 3 s on screen
        self.assertEqual([0, 3], run.state_codes())
        self.assertEqual(1, len(self.machine.wait_app_starts(1)))

    def test_nothing_installed_and_service_down_starts_nothing(self) -> None:
        run = Run(self.machine, self.service,
                  env={"http_proxy": "http://127.0.0.1:%d/" % unreachable_port()}, watch=False)
        self.assertEqual(0, run.wait(60))
        lines = run.log_lines()
        expected = preamble(None, None)
        self.assertEqual(expected, lines[:len(expected)])
        self.assertEqual(["request check update error", "exit", ""], lines[-3:])
        time.sleep(1.0)
        self.assertEqual([], self.machine.app_starts())
        self.assertFalse(self.machine.setup_log.exists())

    def test_unusable_replies_show_the_parse_error_and_start_the_application(self) -> None:
        cases = {
            "missing MD5": build_check_reply(omit=("MD5",), LatestVersion="2.06"),
            "ReturnCode 0": build_check_reply(ReturnCode="0", LatestVersion="2.06"),
            # a line break and a stamp: the forged line must not read as the launcher's own
            "forged log line": build_check_reply(
                ReturnCode="0", after="\r\n2026-01-01 00:00:00\t" + RESTORED + "\rexit\n"),
            "empty body": b"",
        }
        self.machine.install_app("2.5")
        for name, body in cases.items():
            with self.subTest(name):
                self.machine.end_stand_in_apps()
                self.machine.app_starts_log.unlink(missing_ok=True)
                self.service.set_check_reply(body, fault=Fault.slow(64, 100) if body else None)
                run = Run(self.machine, self.service)
                self.assertEqual(0, run.wait(60))
                self.assertEqual(preamble(2, 5) + reply_lines(body) + ["parse update error", "exit", ""],
                                 run.log_lines())
                self.assertNotIn(RESTORED, run.log_lines())
                # An empty reply comes back too fast for the detecting text to be seen.
                self.assertIn(run.state_codes(), ([0, 4], [4]) if not body else ([0, 4],))
                self.assertGreaterEqual(run.elapsed, 3.0)
                self.assertFalse(self.machine.setup_path.exists())
                self.assertEqual(1, len(self.machine.wait_app_starts(1)))


class Interruptions(Scenario):
    def test_closing_the_window_mid_download_ends_the_run_at_once(self) -> None:
        self.machine.install_app("2.5")
        self.offer("2.06")
        self.service.set_download(self.installer, fault=Fault.slow(4096, 100))
        run = Run(self.machine, self.service, watch=False)
        window = self.machine.ui("find", "--class", WINDOW_CLASS, "--timeout", "20000")[0]
        self.assertTrue(window["found"])
        # Closed only once the download is under way.
        deadline = time.monotonic() + 30
        while b"download: " not in self.machine.log_bytes_since(run.log_offset):
            self.assertLess(time.monotonic(), deadline)
            time.sleep(0.1)
        time.sleep(1.0)
        self.machine.ui("close", "--hwnd", str(window["hwnd"]))
        self.assertEqual(0, run.wait(20))
        self.assertLess(run.elapsed, 15)

        lines = run.log_lines()
        self.assertTrue(lines[-1].startswith("download: "), lines[-3:])
        self.assertNotIn("exit", lines)
        # The part stays for the next run to resume; no Setup.exe exists to run.
        part = self.machine.download_dir / "Setup.exe.part"
        self.assertLess(part.stat().st_size, len(self.installer))
        self.assertFalse(self.machine.setup_path.exists())
        time.sleep(1.5)
        self.assertEqual([], self.machine.app_starts())
        self.assertFalse(self.machine.setup_log.exists())
        self.assertEqual((2, 5, 0, 0), self.machine.installed_version())

    def test_a_second_launcher_ends_at_once_and_the_first_installs_alone(self) -> None:
        self.machine.install_app("2.5")
        self.offer("2.06", MD5=md5_hex(self.installer))
        # Slow enough that the first is still downloading when the second starts.
        self.service.set_download(self.installer, fault=Fault.slow(4096, 100))
        first = Run(self.machine, self.service, watch=False)
        window = self.machine.ui("find", "--class", WINDOW_CLASS, "--timeout", "20000")[0]
        self.assertTrue(window["found"])
        second = Run(self.machine, self.service, watch=False)
        self.assertEqual(0, second.wait(30))
        self.assertIsNone(first.process.poll(), "the first launcher ended early")
        self.assertEqual(0, first.wait(120))

        lines = first.log_lines()
        self.assertEqual(1, lines.count("launcher already running, this one ends"), lines)
        self.assertEqual(1, len([l for l in lines if l.startswith("run setup: ")]), lines)
        self.assertEqual(1, lines.count("version: 0.01"), lines)
        runs = [l for l in self.machine.setup_log.read_text().splitlines() if l.startswith("run ")]
        self.assertEqual(1, len(runs), runs)
        self.assertEqual((2, 6, 0, 0), self.machine.installed_version())
        time.sleep(1.0)
        starts = self.machine.wait_app_starts(1)
        self.assertEqual(["started 2.6"], [s.split(" pid=")[0] for s in starts])

    def test_a_minimised_splash_ends_the_run_once_the_work_is_done(self) -> None:
        # A minimised window is never painted, so nothing may wait for a paint to end the run:
        # minimised while downloading, or started minimised from a shortcut.
        for started_minimised in (False, True):
            with self.subTest(started_minimised=started_minimised):
                self.machine.reset()
                self.machine.install_app("2.5")
                self.offer("2.06")
                self.service.set_download(self.installer, fault=Fault.slow(4096, 50))
                run = Run(self.machine, self.service, watch=False, minimised=started_minimised)
                if not started_minimised:
                    window = self.machine.ui("find", "--class", WINDOW_CLASS, "--timeout", "20000")[0]
                    deadline = time.monotonic() + 30
                    while b"download: " not in self.machine.log_bytes_since(run.log_offset):
                        self.assertLess(time.monotonic(), deadline)
                        time.sleep(0.1)
                    self.machine.ui("minimise", "--hwnd", str(window["hwnd"]))
                self.assertEqual(0, run.wait(120))

                lines = run.log_lines()
                self.assertEqual(1, lines.count("exit"), lines)
                self.assertEqual(["exit", ""], lines[-2:])
                self.assertEqual((2, 6, 0, 0), self.machine.installed_version())
                starts = self.machine.wait_app_starts(1)
                self.assertEqual(["started 2.6"], [s.split(" pid=")[0] for s in starts])


if __name__ == "__main__":
    unittest.main()

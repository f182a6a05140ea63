#!/usr/bin/env python3
"""The launcher's main job, shown: the release launcher.exe under Wine against a built-in demo
update service on 127.0.0.1, or against nginx serving a release made by scripts/publish. Takes a screenshot (PNG) of every state the splash window passes
through, and of the dialogs on the failing-download road, then prints the log.

Run through scripts/demo, which builds everything and prepares Wine first.
"""

from __future__ import annotations

import argparse
import json
import shutil
import os
import subprocess
import sys
import threading
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests" / "e2e"))

from harness import (BRAND, WINDOW_CLASS, Fault, Machine, Nginx, Run, UpdateService,  # noqa: E402
                     md5_hex, publish, server_folder, windows_path)

ROADS = {
    "update": "2.5 installed, 2.6 offered: download, install, start",
    "no-update": "2.5 installed and offered: nothing to do, start it",
    "service-down": "the update service does not answer: start what is installed",
    "failing-download": "the download keeps failing: the Retry/Manual dialog, then the manual steps",
    "published": "2.6 published with scripts/publish and served by nginx: download, install, start",
}


def published_release(machine: Machine) -> tuple[Nginx, Path]:
    """Publishes the 2.6 installer into a new folder and prepares nginx to serve it with the
    configuration in docs/nginx."""
    folder = server_folder("launcher-demo-")
    # The server path is the brand's download location, publish's default.
    command = ["scripts/publish", "--installer", str(machine.fixture("setup-2.6", "Setup.exe")),
               "--app-version", "2.6", "--file-name", "AppSetup-2.06.exe",
               "--out", str(folder / "site")]
    print("$ " + " ".join(command), flush=True)
    done = publish(*command[1:])
    print(done.stdout + done.stderr, end="", flush=True)
    if done.returncode != 0:
        shutil.rmtree(folder)
        raise SystemExit(1)
    return Nginx(folder / "site", folder / "nginx"), folder


def crop(machine: Machine, rect: list[int], path: Path) -> None:
    left, top, right, bottom = rect
    path.parent.mkdir(parents=True, exist_ok=True)
    subprocess.run(["import", "-window", "root", "-crop",
                    f"{right - left}x{bottom - top}+{left}+{top}", "+repage", str(path)],
                   capture_output=True, timeout=30)


class Follower(threading.Thread):
    """Reads the splash window's states as they change and photographs each new one."""

    def __init__(self, machine: Machine, out: Path) -> None:
        super().__init__(daemon=True)
        self.machine = machine
        self.out = out
        self.shots: list[Path] = []
        self.rect: list[int] | None = None
        self.process = subprocess.Popen(
            ["wine", str(machine.ui_driver), "watch", "--launcher", windows_path(machine.launcher),
             "--interval", "30", "--timeout", "600000"],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)

    def run(self) -> None:
        taken: set = set()
        for raw in self.process.stdout:
            line = raw.decode("utf-8", "replace").strip()
            if not line.startswith("{"):
                continue
            item = json.loads(line)
            state = item.get("state")
            if state is None or state in ("unknown", "gone"):
                continue
            if self.rect is None:
                found = self.machine.ui("find", "--class", WINDOW_CLASS, "--timeout", "3000")
                if found and found[0].get("found"):
                    self.rect = found[0]["rect"]
            if self.rect is None:
                continue
            progress = item.get("progress", -1)
            key = (state, progress if state == 5 and progress in (0, 100) or
                   state == 5 and progress >= 40 and ("mid" not in taken) else None)
            if state == 5 and 0 < progress < 100:
                if progress < 40 or "mid" in taken:
                    continue
                taken.add("mid")
            if key in taken:
                continue
            taken.add(key)
            name = f"{len(self.shots) + 1:02d}-state-{state}" + (
                f"-{progress}pct" if state == 5 else "") + ".png"
            crop(self.machine, self.rect, self.out / name)
            self.shots.append(self.out / name)
            print(f"  window shows state {state}" + (f" at {progress} %" if state == 5 else "")
                  + f"  -> {name}", flush=True)


def drive_failure_dialogs(machine: Machine, out: Path, shots: list[Path]) -> None:
    """Photographs the download-failure dialog, chooses Manual, photographs the manual steps,
    copies the link, and closes."""
    failure = machine.ui("find", "--class", "#32770", "--owner-class", WINDOW_CLASS,
                         "--timeout", "60000", timeout=90)
    if not failure or not failure[0].get("found"):
        print("  no download-failure dialog appeared", flush=True)
        return
    time.sleep(0.5)
    crop(machine, failure[0]["rect"], out / "dialog-download-failed.png")
    shots.append(out / "dialog-download-failed.png")
    print("  download-failure dialog -> dialog-download-failed.png; choosing Manual", flush=True)
    machine.ui("click", "--hwnd", str(failure[0]["hwnd"]), "--id", "1003")
    time.sleep(1.0)
    manual = machine.ui("find", "--class", "#32770", "--owner-class", WINDOW_CLASS,
                        "--timeout", "30000", timeout=60)
    if not manual or not manual[0].get("found"):
        return
    time.sleep(0.5)
    crop(machine, manual[0]["rect"], out / "dialog-manual-download.png")
    shots.append(out / "dialog-manual-download.png")
    machine.ui("click", "--hwnd", str(manual[0]["hwnd"]), "--id", "1004")
    time.sleep(0.5)
    clip = machine.ui("clipboard")
    print("  manual-download dialog -> dialog-manual-download.png; copied link: "
          + (clip[0]["text"] if clip else "?"), flush=True)
    time.sleep(1.0)
    machine.ui("close", "--hwnd", str(manual[0]["hwnd"]))


def configure_service(service: UpdateService, road: str, installer: bytes, env: dict) -> None:
    # Slow enough for a person (and the screenshots) to follow every state.
    service.set_download(installer, fault=Fault.slow(16384, 60))
    offered = "2.05" if road == "no-update" else "2.06"
    service.set_check_reply(LatestVersion=offered, MD5=md5_hex(installer),
                            fault=Fault.slow(32, 120))
    if road == "failing-download":
        service.set_download(installer, fault=Fault.http_status(503))
    if road == "service-down":
        from update_service import unreachable_port
        env["http_proxy"] = f"http://127.0.0.1:{unreachable_port()}/"
    print(f"Demo update service on {service.base_url} offers {offered}; "
          f"installed: 2.5", flush=True)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--road", choices=sorted(ROADS), default="update",
                        help="which road of a run to show (default: update)")
    parser.add_argument("--out", default=str(ROOT / "demo-output"),
                        help="folder for the screenshots (default: demo-output/)")
    parser.add_argument("--keep-app", action="store_true",
                        help="leave the started application running")
    args = parser.parse_args()

    out = Path(args.out) / args.road
    out.mkdir(parents=True, exist_ok=True)
    for old in out.glob("*.png"):
        old.unlink()

    machine = Machine()
    machine.reset()
    installer = machine.fixture("setup-2.6", "Setup.exe").read_bytes()
    print(f"Road: {args.road}: {ROADS[args.road]}", flush=True)

    folder = None
    if args.road == "published":
        server, folder = published_release(machine)
    else:
        server = UpdateService()
    try:
        with server:
            env = {}
            machine.install_app("2.5")
            if isinstance(server, Nginx):
                print(f"nginx on 127.0.0.1:{server.port} serves {server.site} with "
                      "docs/nginx/update-service.conf; installed: 2.5", flush=True)
            else:
                configure_service(server, args.road, installer, env)

            follower = Follower(machine, out)
            follower.start()
            run = Run(machine, server, env=env, watch=False)
            dialogs: threading.Thread | None = None
            if args.road == "failing-download":
                dialogs = threading.Thread(target=drive_failure_dialogs,
                                           args=(machine, out, follower.shots), daemon=True)
                dialogs.start()
            code = run.wait(300)
            if dialogs:
                dialogs.join(60)
            follower.process.wait(30)
            follower.join(30)
            if isinstance(server, Nginx):
                print("\nnginx served (host, path, status, bytes):")
                for line in server.requests():
                    print("  " + line)
    finally:
        if folder:
            shutil.rmtree(folder, ignore_errors=True)

    starts = machine.wait_app_starts(1, timeout=5) if args.road != "failing-download" else machine.app_starts()
    version = machine.installed_version()
    print(f"\nlauncher.exe ended with exit code {code} after {run.elapsed:.1f} s")
    print("Installed application version: " + (".".join(map(str, version)) if version else "none"))
    print("Application started: " + ("; ".join(starts) if starts else "no"))
    print(f"\nLog: {machine.log_path}  (Windows: Documents\\{BRAND['log_folder']}\\launcher.log)")
    for line in machine.log_bytes_since(run.log_offset).decode("latin-1").split("\r\n")[:-1]:
        print("  | " + line)
    print(f"\nScreenshots in {out}:")
    for shot in sorted(out.glob("*.png")):
        print(f"  {shot.name}")
    if not args.keep_app:
        time.sleep(1.5)
        machine.end_stand_in_apps()
    return 0 if code == 0 else 1


if __name__ == "__main__":
    sys.exit(main())

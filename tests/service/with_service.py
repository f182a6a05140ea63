#!/usr/bin/env python3
"""Runs one command next to a freshly started local update service.

    with_service.py [--config JSON] [--serve-dir DIR] [--proxy] [--timeout S]
                    [--requests-out FILE] [--max-hold-ms N] [--verbose] -- command args...

The service listens on a free 127.0.0.1 port.  The command's environment gets
UPDATE_SERVICE_PORT and UPDATE_SERVICE_URL (http://127.0.0.1:PORT/); with
--proxy also http_proxy (and HTTP_PROXY) naming the service, so a program with
a compiled-in host reaches it through its proxy setting.  The command is killed
(with its process group) after --timeout seconds, exit code 124.  Otherwise
the exit code is the command's own (128+N when it died from signal N).
--requests-out writes the recorded requests as JSON after the command ends.
"""

from __future__ import annotations

import argparse
import json
import os
import signal
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from update_service import DEFAULT_MAX_HOLD_MS, UpdateService  # noqa: E402

TIMEOUT_EXIT = 124


def run(argv: list[str]) -> int:
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--config", help="JSON configuration document for the service")
    ap.add_argument("--serve-dir", help="serve this folder's files under /files/")
    ap.add_argument("--proxy", action="store_true", help="also export http_proxy")
    ap.add_argument("--timeout", type=float, default=600.0, help="seconds (default 600)")
    ap.add_argument("--requests-out", help="write the recorded requests here as JSON")
    ap.add_argument("--max-hold-ms", type=int, default=DEFAULT_MAX_HOLD_MS)
    ap.add_argument("--verbose", action="store_true")
    ap.add_argument("command", nargs=argparse.REMAINDER)
    args = ap.parse_args(argv)
    command = args.command[1:] if args.command[:1] == ["--"] else args.command
    if not command:
        ap.error("no command given after --")

    config = None
    if args.config:
        with open(args.config, encoding="utf-8") as f:
            config = json.load(f)

    with UpdateService(serve_dir=args.serve_dir, max_hold_ms=args.max_hold_ms,
                       verbose=args.verbose) as svc:
        if config is not None:
            svc.configure(config)
        env = dict(os.environ)
        env["UPDATE_SERVICE_PORT"] = str(svc.port)
        env["UPDATE_SERVICE_URL"] = svc.base_url
        if args.proxy:
            env["http_proxy"] = env["HTTP_PROXY"] = svc.base_url
        # Its own process group, so a timeout also ends whatever it started
        # (wine, wineserver clients, shells).
        proc = subprocess.Popen(command, env=env, start_new_session=True)
        try:
            code = proc.wait(timeout=args.timeout)
        except subprocess.TimeoutExpired:
            sys.stderr.write(f"with_service: command timed out after {args.timeout:g} s\n")
            _kill_group(proc)
            code = TIMEOUT_EXIT
        except KeyboardInterrupt:
            _kill_group(proc)
            code = 130
        if args.requests_out:
            with open(args.requests_out, "w", encoding="utf-8") as f:
                json.dump(svc.requests(), f, indent=1)
    return 128 - code if code < 0 else code


def _kill_group(proc: subprocess.Popen) -> None:
    for sig, grace in ((signal.SIGTERM, 5), (signal.SIGKILL, 5)):
        try:
            os.killpg(proc.pid, sig)
        except ProcessLookupError:
            return
        try:
            proc.wait(timeout=grace)
            return
        except subprocess.TimeoutExpired:
            continue


if __name__ == "__main__":
    sys.exit(run(sys.argv[1:]))

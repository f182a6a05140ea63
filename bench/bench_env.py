"""Shared start of the benchmark scripts: build what they measure and prepare Wine."""

from __future__ import annotations

import os
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent


def prepare(script: Path, targets: str) -> None:
    """Re-runs `script` inside a built tree and a prepared Wine environment (once)."""
    if os.environ.get("LAUNCHER_BENCH_READY") == "1":
        return
    build = os.environ.get("BUILD_DIR", str(ROOT / "build"))
    shell = f"""
set -euo pipefail
cd {ROOT}
scripts/setup
mkdir -p {build}
cmake -S . -B {build} -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build {build} -j"$(nproc)" --target {targets} >/dev/null
source scripts/wine-env.sh
trap wine_env_stop EXIT
wine_env_start {build}/wine-bench
export LAUNCHER_BUILD_DIR={build} LAUNCHER_BENCH_READY=1
python3 {script} "$@"
"""
    sys.exit(subprocess.call(["bash", "-c", shell, "bench", *sys.argv[1:]]))

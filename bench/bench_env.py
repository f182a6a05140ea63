"""Shared start of the benchmark scripts: build what they measure and prepare Wine."""

from __future__ import annotations

import os
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent


def prepare(script: Path, targets: str, shipped_targets: str = "") -> None:
    """Re-runs `script` inside a built tree and a prepared Wine environment (once).

    What runs is built for the Windows programs this machine's Wine runs (a 64-bit build where
    the kernel cannot run 32-bit code). `shipped_targets` are built as shipped, for i686; where
    that is not the build that runs, in a tree of its own under the build. Either way
    LAUNCHER_SHIPPED_BUILD_DIR names the tree that holds them."""
    if os.environ.get("LAUNCHER_BENCH_READY") == "1":
        return
    build = os.environ.get("BUILD_DIR", str(ROOT / "build"))
    shell = f"""
set -euo pipefail
cd {ROOT}
scripts/setup
source scripts/wine-env.sh
mkdir -p {build}
build=$(cd {build} && pwd)
shipped=$build
if [ -n "{shipped_targets}" ]; then
  shipped=$(wine_shipped_build "$build" {shipped_targets} 2>/dev/null)
fi
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$(wine_toolchain)" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j"$(nproc)" --target {targets} {shipped_targets} >/dev/null
trap wine_env_stop EXIT
wine_env_start "$build/wine-bench"
export LAUNCHER_BUILD_DIR="$build" LAUNCHER_SHIPPED_BUILD_DIR="$shipped" LAUNCHER_BENCH_READY=1
export LAUNCHER_WINE_ARCH=$(wine_host_arch)
python3 {script} "$@"
"""
    sys.exit(subprocess.call(["bash", "-c", shell, "bench", *sys.argv[1:]]))

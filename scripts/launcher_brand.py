"""The brand a build was made with, for the scripts and the Python tests.

A build tree holds it as brand.json (written by CMake); a brand file (brands/*.cmake) is read by
CMake itself (cmake/brand-json.cmake), so both give the same values under the same rules.
"""

from __future__ import annotations

import json
import os
import subprocess
import urllib.parse
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
DEFAULT_BRAND = ROOT / "brands" / "default.cmake"


class BrandError(Exception):
    """The brand can't be read; the message says why."""


def load(source: str | os.PathLike | None = None) -> dict[str, str]:
    """The brand from a build tree, its brand.json or a brand file. Without a source: the build
    tree named by LAUNCHER_BUILD_DIR when set, otherwise the default brand file."""
    if source is None:
        build = os.environ.get("LAUNCHER_BUILD_DIR")
        source = Path(build) if build else DEFAULT_BRAND
    path = Path(source)
    if not path.exists():
        raise BrandError(f"{path} does not exist")
    if path.is_dir():
        path = path / "brand.json"
    if path.suffix == ".json":
        try:
            return json.loads(path.read_text(encoding="utf-8"))
        except (OSError, ValueError) as exc:
            raise BrandError(f"can't read {path}: {exc}") from exc
    done = subprocess.run(["cmake", f"-DLAUNCHER_BRAND={path.resolve()}", "-P",
                           str(ROOT / "cmake" / "brand-json.cmake")],
                          capture_output=True, text=True, timeout=60)
    if done.returncode != 0:
        # CMake's report, one line: the file, then each setting it refused.
        said = [line.strip() for line in done.stderr.splitlines()
                if line.strip().startswith("LAUNCHER_BRAND")]
        if not said:
            raise BrandError(f"cmake could not read {path}")
        raise BrandError(said[0].rstrip(":") + (": " + "; ".join(said[1:]) if said[1:] else ""))
    return json.loads(done.stdout)


def host(url: str) -> str:
    return urllib.parse.urlsplit(url).hostname or ""

"""Builds launcher.exe with another brand and checks that the default brand left no trace.

    python3 brand_check.py BRAND_FILE BUILD_DIR

Configures BUILD_DIR (the launcher only, no tests) with BRAND_FILE, builds launcher.exe and its
resources, then reads the exe: none of the default brand's names, SKU, hosts or check path may
stand in it, in UTF-16LE or in single-byte text, and each of the new brand's own names must.
Last, scripts/check-resources checks the resources against the new brand, and must refuse them
against the default brand.
"""

import json
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "scripts"))
import launcher_brand  # noqa: E402  (its folder is put on the path just above)

# The settings whose values the exe carries; the banner is a picture, not a name.
NAMED = ("company", "product", "product_zh_tw", "updater", "app_exe", "vendor_folder",
         "product_folder", "log_folder", "sku", "check_path", "launcher_mutex", "install_mutex",
         "log_lock", "window_class", "file_description_zh_tw", "file_description",
         "product_name")


def needles(brand):
    """Each name with the forms it may take in the exe."""
    names = {brand[key] for key in NAMED}
    names |= {launcher_brand.host(brand["update_url"]), launcher_brand.host(brand["download_url"])}
    return {name: (name.encode("utf-16-le"), name.encode("utf-8")) for name in names}


def main(brand_file, build_dir):
    build = Path(build_dir)
    for step in (["cmake", "-S", str(ROOT), "-B", str(build), "-DBUILD_TESTING=OFF",
                  f"-DCMAKE_TOOLCHAIN_FILE={ROOT / 'cmake' / 'mingw-i686.cmake'}",
                  f"-DLAUNCHER_BRAND={Path(brand_file).resolve()}"],
                 ["cmake", "--build", str(build), "--target", "launcher", "launcher_res", "-j2"]):
        if subprocess.run(step, stdout=subprocess.DEVNULL).returncode != 0:
            print("brand check: failed: " + " ".join(step))
            return 1
    exe = (build / "launcher.exe").read_bytes()
    default, own = launcher_brand.load(launcher_brand.DEFAULT_BRAND), launcher_brand.load(build)
    problems = [f"the default brand's {name!r} is in launcher.exe"
                for name, forms in needles(default).items() if any(f in exe for f in forms)]
    problems += [f"the brand's own {name!r} is not in launcher.exe"
                 for name, (wide, _) in needles(own).items()
                 if wide not in exe and name != launcher_brand.host(own["download_url"])]
    for problem in problems:
        print("brand check: " + problem)
    check = [sys.executable, str(ROOT / "scripts" / "check-resources")]
    resources = subprocess.run(check + [str(build)]).returncode
    # The same resources read against the default brand: every branded text is a difference.
    with tempfile.TemporaryDirectory() as other:
        shutil.copy(build / "launcher.res", other)
        Path(other, "brand.json").write_text(json.dumps(default), encoding="utf-8")
        said = subprocess.run(check + [other], capture_output=True, text=True).stdout
    wanted = ["zh-TW #122", "zh-TW #127", "zh-TW #128", "zh-TW #1001", "en-US #122",
              "zh-CN #122", "version 040404B0", "version 040904B0"]
    missed = [where for where in wanted if where + ":" not in said]
    if missed:
        print(f"brand check: check-resources against the default brand missed {missed}:\n{said}")
    return 1 if problems or resources or missed else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))

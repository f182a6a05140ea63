"""Runs the release launcher.exe under Wine against the test update service.

The Wine prefix, home and display come from scripts/wine-env.sh (exported by scripts/test and
scripts/demo); the build tree from LAUNCHER_BUILD_DIR. One `Run` is one launcher process with a
fresh machine state: no application installed unless asked, no download folder, no stand-in
traces, and only the log lines it wrote itself.
"""

from __future__ import annotations

import getpass
import hashlib
import json
import os
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest
from contextlib import contextmanager
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "service"))

sys.path.insert(0, str(HERE.parent / "fixtures"))
sys.path.insert(0, str(HERE.parent.parent / "scripts"))

from update_service import Fault, UpdateService, unreachable_port  # noqa: E402  (paths set just above)
from file_version import file_version  # noqa: E402
import launcher_brand  # noqa: E402

# The names the build under test was configured with (its brand.json).
BRAND = launcher_brand.load()
APP_EXE = BRAND["app_exe"]
WINDOW_CLASS = BRAND["window_class"]
UPDATE_HOST = launcher_brand.host(BRAND["update_url"])
DOWNLOAD_HOST = launcher_brand.host(BRAND["download_url"])
# The application folder as the launcher names it, and its backup beside it.
APP_DIR = f"C:\\Program Files\\{BRAND['vendor_folder']}\\{BRAND['product_folder']}"
BACKUP = APP_DIR + " backup"
# The install step's lines about the installed build set aside, and kept or put back.
SET_ASIDE = "application dir set aside: " + BACKUP
BACKUP_REMOVED = "application installed, backup removed: " + BACKUP
RESTORED = "application dir restored from backup: " + BACKUP

# The Windows version Wine reports in this prefix (HKCU\Software\Wine, value Version, set by
# scripts/wine-prefix-run) comes as LAUNCHER_WINDOWS_VERSION; unset or empty, it is the
# prefix's default. For each: the version the launcher sees and the road its language set-up
# takes. Wine ignores the thread UI language, so from Vista on the launcher sets the thread
# locale as well.
WINDOWS_VERSIONS = {
    "winxp": ("5.1", "the thread locale"),
    "win7": ("6.1", "the thread UI language and the thread locale"),
    "win10": ("10.0", "the thread UI language and the thread locale"),
}
DEFAULT_WINDOWS_VERSION = "win7"


def windows_version() -> str:
    return os.environ.get("LAUNCHER_WINDOWS_VERSION") or DEFAULT_WINDOWS_VERSION


def build_dir() -> Path:
    value = os.environ.get("LAUNCHER_BUILD_DIR")
    if not value:
        raise RuntimeError("LAUNCHER_BUILD_DIR is not set (run through scripts/test)")
    return Path(value)


def windows_path(path: Path) -> str:
    return "Z:" + str(path.resolve()).replace("/", "\\")


class Machine:
    """The Windows side of the prefix, seen from Linux."""

    def __init__(self) -> None:
        self.prefix = Path(os.environ["WINEPREFIX"])
        self.home = Path(os.environ["HOME"])
        drive_c = self.prefix / "drive_c"
        self.program_files = drive_c / "Program Files"
        self.app_dir = self.program_files / BRAND["vendor_folder"] / BRAND["product_folder"]
        self.temp = drive_c / "users" / getpass.getuser() / "Temp"
        self.download_dir = self.temp / BRAND["vendor_folder"] / BRAND["product_folder"]
        self.setup_path = self.download_dir / "Setup.exe"
        self.log_path = self.home / BRAND["log_folder"] / "launcher.log"
        self.app_starts_log = self.temp / "stand-in-app-starts.log"
        self.setup_log = self.temp / "stand-in-setup.log"
        self.build = build_dir()
        self.launcher = self.build / "launcher.exe"
        # Built with the test publisher's certificate pinned (tests/e2e/tests.cmake).
        self.pinned_launcher = self.build / "pinned" / "launcher.exe"
        self.ui_driver = self.build / "tests" / "ui_driver.exe"

    def fixture(self, *parts: str) -> Path:
        return self.build.joinpath("fixtures", *parts)

    def wine(self, *args: str, timeout: float = 60, env: dict | None = None) -> subprocess.CompletedProcess:
        """Runs a Windows program and returns its output. The output goes through a file, not a
        pipe: Wine's desktop process, restarted by whichever program needs it, inherits that
        program's output and would hold a pipe open long after the program ended."""
        with tempfile.TemporaryFile() as out:
            done = subprocess.run(["wine", *args], stdout=out, stderr=subprocess.DEVNULL,
                                  timeout=timeout, env=env or os.environ.copy(),
                                  stdin=subprocess.DEVNULL)
            out.seek(0)
            return subprocess.CompletedProcess(done.args, done.returncode, out.read(), b"")

    @contextmanager
    def temp_folder(self, windows_folder: str):
        """Every program started meanwhile gets `windows_folder` (a path on drive C:, made here
        when it fits the path limit) as its temporary folder, as a user's own setting would
        give it; the stand-in traces and the download folder follow it."""
        values = {}
        for line in self.wine("reg", "query", "HKCU\\Environment", timeout=30).stdout.decode(
                "utf-8", "replace").splitlines():
            parts = line.split(None, 2)
            if len(parts) == 3 and parts[0] in ("TEMP", "TMP"):
                values[parts[0]] = (parts[1], parts[2].strip())
        assert set(values) == {"TEMP", "TMP"}, values
        unix = self.prefix / "drive_c" / windows_folder[3:].replace("\\", "/")
        if len(windows_folder) < 250:
            unix.mkdir(parents=True, exist_ok=True)
        before = (self.temp, self.download_dir, self.setup_path, self.app_starts_log,
                  self.setup_log)
        try:
            for name in values:
                self.wine("reg", "add", "HKCU\\Environment", "/v", name, "/t", "REG_SZ", "/d",
                          windows_folder, "/f", timeout=30)
            self.temp = unix
            self.download_dir = unix / BRAND["vendor_folder"] / BRAND["product_folder"]
            self.setup_path = self.download_dir / "Setup.exe"
            self.app_starts_log = unix / "stand-in-app-starts.log"
            self.setup_log = unix / "stand-in-setup.log"
            yield unix
        finally:
            self.end_stand_in_apps()
            for name, (kind, value) in values.items():
                self.wine("reg", "add", "HKCU\\Environment", "/v", name, "/t", kind, "/d", value,
                          "/f", timeout=30)
            (self.temp, self.download_dir, self.setup_path, self.app_starts_log,
             self.setup_log) = before
            if len(windows_folder) < 250 and unix.exists():
                shutil.rmtree(unix, ignore_errors=True)

    def end_stand_in_apps(self) -> None:
        self.wine(str(self.fixture("tell_stand_in_exit.exe")), "15000", timeout=30)

    def reset(self) -> None:
        """No application, no download, no stand-in traces, no launcher running."""
        self.end_stand_in_apps()
        vendor = BRAND["vendor_folder"]
        for path in (self.program_files / vendor, self.temp / vendor):
            if path.is_symlink():
                path.unlink()
            elif path.exists():
                for root, dirs, files in os.walk(path):
                    for name in dirs + files:
                        if not os.path.islink(os.path.join(root, name)):
                            os.chmod(os.path.join(root, name), 0o755)
                shutil.rmtree(path)
        for path in (self.app_starts_log, self.setup_log):
            path.unlink(missing_ok=True)

    def install_app(self, version: str) -> Path:
        self.app_dir.mkdir(parents=True, exist_ok=True)
        target = self.app_dir / APP_EXE
        shutil.copyfile(self.fixture(f"app-{version}", APP_EXE), target)
        return target

    def folders(self) -> tuple[list[str], list[str]]:
        """What the application folder holds, and what stands beside it."""
        files = sorted(os.listdir(self.app_dir)) if self.app_dir.exists() else []
        return files, sorted(os.listdir(self.app_dir.parent))

    def installed_version(self) -> tuple | None:
        target = self.app_dir / APP_EXE
        if not target.exists():
            return None
        return file_version(str(target))

    def app_starts(self) -> list[str]:
        if not self.app_starts_log.exists():
            return []
        return [l for l in self.app_starts_log.read_text(errors="replace").splitlines() if l]

    def wait_app_starts(self, count: int, timeout: float = 15) -> list[str]:
        """The application's start records once `count` are there (or the time is up)."""
        end = time.monotonic() + timeout
        while len(self.app_starts()) < count and time.monotonic() < end:
            time.sleep(0.1)
        return self.app_starts()

    def log_size(self) -> int:
        return self.log_path.stat().st_size if self.log_path.exists() else 0

    def log_bytes_since(self, offset: int) -> bytes:
        if not self.log_path.exists():
            return b""
        with open(self.log_path, "rb") as f:
            f.seek(offset)
            return f.read()

    def ui(self, *args: str, timeout: float = 30) -> list[dict]:
        done = self.wine(str(self.ui_driver), *args, timeout=timeout)
        lines = []
        for raw in done.stdout.decode("utf-8", "replace").splitlines():
            raw = raw.strip()
            if raw.startswith("{"):
                lines.append(json.loads(raw))
        return lines

    def screenshot(self, path: Path) -> None:
        path.parent.mkdir(parents=True, exist_ok=True)
        subprocess.run(["import", "-window", "root", str(path)], capture_output=True, timeout=30)


def strip_stamp(line: str) -> str:
    # "YYYY-MM-DD hh:mm:ss\t"
    if len(line) >= 20 and line[4] == "-" and line[10] == " " and line[19] == "\t":
        return line[20:]
    return line


class Run:
    """One launcher process against `service`, with the splash window's states followed."""

    def __init__(self, machine: Machine, service: UpdateService, env: dict | None = None,
                 watch: bool = True, launcher: Path | None = None,
                 minimised: bool = False) -> None:
        self.machine = machine
        self.service = service
        self.log_offset = machine.log_size()
        self.env = os.environ.copy()
        self.env["http_proxy"] = f"http://127.0.0.1:{service.port}/"
        self.env.update(env or {})
        self.started = time.monotonic()
        self.watcher = None
        self.watch_file = None
        if watch:
            # Through a file, for the reason given in Machine.wine.
            self.watch_file = tempfile.NamedTemporaryFile(prefix="launcher-watch-", delete=False)
            self.watcher = subprocess.Popen(
                ["wine", str(machine.ui_driver), "watch", "--launcher",
                 windows_path(launcher or machine.launcher), "--timeout", "600000"],
                stdout=self.watch_file, stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
            self._wait_watcher_ready(timeout=60)
        # `start /min` hands the launcher the show command of a shortcut set to "Minimised";
        # with /wait its process lasts as long as the launcher's and ends with its code.
        start = ["start", "/min", "/wait", "/unix"] if minimised else []
        self.process = subprocess.Popen(["wine", *start, str(launcher or machine.launcher)],
                                        env=self.env,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                        stdin=subprocess.DEVNULL)
        self.exit_code: int | None = None
        self.elapsed: float | None = None
        self._states: list[dict] | None = None

    def _wait_watcher_ready(self, timeout: float) -> None:
        path = Path(self.watch_file.name)
        end = time.monotonic() + timeout
        while time.monotonic() < end and self.watcher.poll() is None:
            if b'"ready"' in path.read_bytes():
                return
            time.sleep(0.05)
        raise RuntimeError("the window watcher did not get ready in time")

    def wait(self, timeout: float = 120) -> int:
        try:
            self.exit_code = self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.kill()
            raise
        self.elapsed = time.monotonic() - self.started
        return self.exit_code

    def kill(self) -> None:
        # The Wine process is the launcher itself (same pid); nothing broader is killed, since
        # other prefixes on this machine may be running launchers of their own.
        self.process.kill()
        self.process.wait(30)

    def states(self, timeout: float = 30) -> list[dict]:
        """The state texts the window showed, in order, without repeats or unreadable frames."""
        if self._states is None:
            if not self.watcher:
                return []
            try:
                self.watcher.wait(timeout=timeout)
            except subprocess.TimeoutExpired:
                self.watcher.kill()
                self.watcher.wait()
            self.watch_file.close()
            path = Path(self.watch_file.name)
            out = path.read_bytes()
            path.unlink(missing_ok=True)
            seen = []
            self.watch_log = out.decode("utf-8", "replace")
            for raw in self.watch_log.splitlines():
                if raw.startswith("{"):
                    item = json.loads(raw)
                    if "state" not in item or item["state"] in ("unknown", "gone", "none"):
                        continue
                    if not seen or (seen[-1]["state"], seen[-1].get("progress")) != (
                            item["state"], item.get("progress")):
                        seen.append(item)
            self._states = seen
        return self._states

    def state_codes(self) -> list:
        """The states shown, with repeats of the same state (rising percentages) folded."""
        codes = []
        for item in self.states():
            if not codes or codes[-1] != item["state"]:
                codes.append(item["state"])
        return codes

    def log_lines(self) -> list[str]:
        text = self.machine.log_bytes_since(self.log_offset).decode("latin-1")
        assert text == "" or text.endswith("\r\n"), "log does not end with a complete line"
        return [strip_stamp(line) for line in text.split("\r\n")[:-1]]


def proc_memory(pid: int) -> tuple[int, int]:
    """Resident set peak and private (anonymous) resident memory of a Wine process, in bytes,
    from /proc: Wine reports no working set or private bytes of its own."""
    fields = {}
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            key, _, value = line.partition(":")
            fields[key] = value.strip()
    kib = lambda k: int(fields.get(k, "0 kB").split()[0]) * 1024  # noqa: E731
    return kib("VmHWM"), kib("RssAnon")


class MemoryPoll(threading.Thread):
    """Samples a process's memory every 50 ms until `stop` is set or the process is gone."""

    def __init__(self, pid: int) -> None:
        super().__init__(daemon=True)
        self.pid, self.peak, self.private_peak, self.stop = pid, 0, 0, False

    def run(self) -> None:
        while not self.stop:
            try:
                peak, private = proc_memory(self.pid)
            except (FileNotFoundError, ProcessLookupError, ValueError):
                return
            self.peak = max(self.peak, peak)
            self.private_peak = max(self.private_peak, private)
            time.sleep(0.05)


class Signer:
    """A code-signing certificate with its key, and Authenticode signatures made with them."""

    def __init__(self, certificate: Path, key: Path) -> None:
        self.certificate, self.key = certificate, key

    @classmethod
    def create(cls, folder: Path, subject: str, usage: str = "codeSigning") -> "Signer":
        """A new self-signed certificate, made now: no key is ever kept in the sources."""
        name = usage.split(",")[-1]
        certificate, key = folder / f"{name}.pem", folder / f"{name}.key"
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-sha256", "-days", "30",
                        "-nodes", "-subj", subject, "-addext", f"extendedKeyUsage={usage}",
                        "-keyout", str(key), "-out", str(certificate)],
                       check=True, capture_output=True, timeout=60)
        return cls(certificate, key)

    def fingerprint(self) -> str:
        """SHA-256 of the certificate's DER bytes, lower case: what a build pins."""
        done = subprocess.run(["openssl", "x509", "-in", str(self.certificate), "-outform", "DER"],
                              check=True, capture_output=True, timeout=60)
        return hashlib.sha256(done.stdout).hexdigest()

    def sign(self, data: bytes, nested: "Signer | None" = None) -> bytes:
        """Signed with SHA-256; with `nested`, signed with SHA-1 and `nested` adds a SHA-256
        signature inside that one, as files for Windows XP and later are signed."""
        with tempfile.TemporaryDirectory() as folder:
            files = [Path(folder) / name for name in ("in.exe", "primary.exe", "out.exe")]
            files[0].write_bytes(data)
            steps = [(self, [], "sha256", files[0], files[2])] if nested is None else [
                (self, [], "sha1", files[0], files[1]),
                (nested, ["-nest"], "sha256", files[1], files[2])]
            for signer, extra, digest, source, target in steps:
                subprocess.run(["osslsigncode", "sign", *extra, "-certs", str(signer.certificate),
                                "-key", str(signer.key), "-h", digest, "-in", str(source),
                                "-out", str(target)], check=True, capture_output=True, timeout=60)
            return files[2].read_bytes()


def md5_hex(data: bytes) -> str:
    return hashlib.md5(data).hexdigest()


def check_url(major: int, minor: int) -> str:
    return (f"{BRAND['update_url']}{BRAND['check_path']}?SKU={BRAND['sku']}"
            f"&Major={major}&Minor={minor}")


def preamble(major: int | None, minor: int | None) -> list[str]:
    """The lines every run starts with, up to and including the request URL."""
    version, route = WINDOWS_VERSIONS[windows_version()]
    lines = ["Get OS version information success",
             f"Language set through {route} on Windows {version}",
             "System language: Chinese(Taiwan)",
             "Get OS version information success", "version: 0.01", "start to check update",
             f"{BRAND['updater']} path: {APP_DIR}\\{APP_EXE}"]
    if major is not None:
        lines.append(f"local version: {major}.{minor:02d}")
    lines.append(check_url(major or 0, minor or 0))
    return lines


ROOT = HERE.parent.parent


def server_folder(prefix: str) -> Path:
    """A new folder for real servers' files. Open to all readers, since a server started by root
    works as an unprivileged user that must reach its files."""
    folder = Path(tempfile.mkdtemp(prefix=prefix))
    folder.chmod(0o755)
    return folder


class LoopbackServer:
    """A real server program on a free 127.0.0.1 port, with its configuration, logs and pid file
    in its own folder. `port` makes it usable as a Run's proxy."""

    name = "server"

    def __init__(self, folder: Path) -> None:
        self.folder = folder
        self.folder.mkdir(parents=True, exist_ok=True)
        self.port = unreachable_port()
        self.process: subprocess.Popen | None = None

    def command(self) -> list[str]:
        raise NotImplementedError

    def start(self, timeout: float = 20) -> "LoopbackServer":
        self.output = open(self.folder / "output.log", "wb")
        self.process = subprocess.Popen(self.command(), stdin=subprocess.DEVNULL,
                                        stdout=self.output, stderr=subprocess.STDOUT)
        end = time.monotonic() + timeout
        while time.monotonic() < end and self.process.poll() is None:
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                return self
            except OSError:
                time.sleep(0.1)
        self.stop()
        raise RuntimeError(f"{self.name} did not start on 127.0.0.1:{self.port}: "
                           + (self.folder / "output.log").read_text(errors="replace")[-2000:])

    def stop(self) -> None:
        if self.process and self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(15)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait(15)
        if self.process:
            self.output.close()
        self.process = None

    def __enter__(self) -> "LoopbackServer":
        return self.start()

    def __exit__(self, *exc) -> None:
        self.stop()


class Nginx(LoopbackServer):
    """nginx serving `site` with the build's update-service.conf (docs/nginx/*.conf.in with the
    brand filled in) as it is documented (with a `tls` certificate and key:
    update-service-tls.conf); only the site file is its own. Any other host name than the
    brand's gets 404 over HTTP."""

    name = "nginx"

    def __init__(self, site: Path, folder: Path, tls: tuple[Path, Path] | None = None) -> None:
        super().__init__(folder)
        (folder / "tmp").mkdir(exist_ok=True)
        self.serve(site, tls)
        conf = "update-service-tls.conf" if tls else "update-service.conf"
        default = "" if tls else \
            f"    server {{ listen 127.0.0.1:{self.port} default_server; return 404; }}\n"
        temp_paths = "".join(f"    {kind}_temp_path {folder}/tmp/{kind};\n"
                             for kind in ("client_body", "proxy", "fastcgi", "uwsgi", "scgi"))
        (folder / "nginx.conf").write_text(
            f"daemon off;\nworker_processes 1;\npid {folder}/nginx.pid;\n"
            f"error_log {folder}/error.log;\nevents {{ worker_connections 64; }}\n"
            "http {\n"
            "    log_format hosts '$host $request_uri $status $body_bytes_sent';\n"
            f"    access_log {folder}/access.log hosts;\n{temp_paths}{default}"
            f"    include {build_dir() / 'nginx' / conf};\n"
            "}\n")
        folder.chmod(0o755)

    def serve(self, site: Path, tls: tuple[Path, Path] | None = None, extra: str = "") -> None:
        """The site file: what to serve, the certificate and key, and `extra` lines for the
        server block. Takes effect at the next start; the access log starts afresh."""
        self.site = site
        (self.folder / "access.log").unlink(missing_ok=True)
        site.chmod(0o755)
        lines = [f"root {site};", extra]
        if tls:
            lines = [f"listen 127.0.0.1:{self.port} ssl;", f"ssl_certificate {tls[0]};",
                     f"ssl_certificate_key {tls[1]};"] + lines
            (self.folder / "update-service-tls-site.inc").write_text("\n".join(lines) + "\n")
        else:
            (self.folder / "update-service-site.inc").write_text(
                "\n".join([f"listen 127.0.0.1:{self.port};"] + lines) + "\n")

    def command(self) -> list[str]:
        return ["nginx", "-p", str(self.folder), "-c", str(self.folder / "nginx.conf"),
                "-e", str(self.folder / "error.log")]

    def requests(self) -> list[str]:
        """"host uri status bytes", one per request served."""
        path = self.folder / "access.log"
        return path.read_text().splitlines() if path.exists() else []


class Squid(LoopbackServer):
    """squid as a user's proxy that asks for a user name and password (basic authentication;
    none when `user` is None) and forwards everything to `origin_port`, whatever the host, CONNECT
    tunnels included: it never resolves or contacts anything else."""

    name = "squid"

    def __init__(self, origin_port: int, folder: Path, user: str | None = None,
                 password: str = "") -> None:
        super().__init__(folder)
        access = "http_access allow all"
        if user is not None:
            hashed = subprocess.run(["openssl", "passwd", "-apr1", password], capture_output=True,
                                    text=True, check=True, timeout=30).stdout.strip()
            (folder / "passwd").write_text(f"{user}:{hashed}\n")
            access = (f"auth_param basic program /usr/lib/squid/basic_ncsa_auth {folder}/passwd\n"
                      "auth_param basic realm launcher test proxy\n"
                      "acl authenticated proxy_auth REQUIRED\n"
                      "http_access allow authenticated\nhttp_access deny all")
        # squid 5 cannot tunnel to an origin-server peer: a CONNECT goes direct, to the peer's
        # port, by rewriting its target.
        (folder / "tunnel-to-origin").write_text(
            "#!/bin/sh\nwhile read -r line; do\n"
            f"  echo 'OK rewrite-url=127.0.0.1:{origin_port}'\ndone\n")
        (folder / "tunnel-to-origin").chmod(0o755)
        (folder / "hosts").write_text(f"127.0.0.1 localhost {UPDATE_HOST} {DOWNLOAD_HOST}\n")
        (folder / "squid.conf").write_text(f"""\
http_port 127.0.0.1:{self.port}
visible_hostname launcher-test-proxy
pid_filename {folder}/squid.pid
cache_log {folder}/cache.log
access_log stdio:{folder}/access.log squid
cache_store_log none
coredump_dir {folder}
cache deny all
strip_query_terms off
pinger_enable off
hosts_file {folder}/hosts
dns_nameservers 127.0.0.1
udp_incoming_address 127.0.0.1
shutdown_lifetime 0 seconds
{access}
cache_peer 127.0.0.1 parent {origin_port} 0 no-query no-digest originserver name=origin
acl tunnel method CONNECT
url_rewrite_program {folder}/tunnel-to-origin
url_rewrite_children 1 startup=1 idle=1
url_rewrite_access allow tunnel
url_rewrite_access deny all
always_direct allow tunnel
never_direct allow all
""")
        if os.getuid() == 0:
            # squid started by root works as the "proxy" user.
            import pwd
            proxy = pwd.getpwnam("proxy")
            for path in [folder, *folder.iterdir()]:
                os.chown(path, proxy.pw_uid, proxy.pw_gid)

    def command(self) -> list[str]:
        return ["squid", "-N", "-f", str(self.folder / "squid.conf")]

    def requests(self) -> list[str]:
        """squid's access log: time, elapsed, client, result/status, bytes, method, URL, user."""
        path = self.folder / "access.log"
        return path.read_text().splitlines() if path.exists() else []


class TestCa:
    """A certificate authority made now, and the server certificates it signs: no key is ever
    kept in the sources. Trusted only where `trust` adds it: the test prefix's Root store."""

    def __init__(self, folder: Path, name: str) -> None:
        self.folder = folder
        folder.mkdir(parents=True, exist_ok=True)
        stem = name.lower().replace(" ", "-")
        self.certificate, self.key = folder / f"{stem}.pem", folder / f"{stem}.key"
        self._openssl("req", "-x509", "-subj", f"/CN={name}", "-keyout", str(self.key),
                      "-out", str(self.certificate), "-addext", "basicConstraints=critical,CA:TRUE",
                      "-addext", "keyUsage=critical,keyCertSign,cRLSign")

    @staticmethod
    def _openssl(*args: str) -> None:
        subprocess.run(["openssl", *args[:1], "-newkey", "rsa:2048", "-sha256", "-days", "30",
                        "-nodes", *args[1:]], check=True, capture_output=True, timeout=60)

    def issue(self, *names: str) -> tuple[Path, Path]:
        """A server certificate for `names` and its key, readable by the server's user."""
        stem = self.folder / f"{self.certificate.stem}-{names[0]}"
        self._openssl("req", "-x509", "-CA", str(self.certificate), "-CAkey", str(self.key),
                      "-subj", f"/CN={names[0]}", "-keyout", f"{stem}.key", "-out", f"{stem}.pem",
                      "-addext", "subjectAltName=" + ",".join(f"DNS:{n}" for n in names),
                      "-addext", "extendedKeyUsage=serverAuth")
        for path in (self.folder, Path(f"{stem}.key"), Path(f"{stem}.pem")):
            path.chmod(0o755 if path.is_dir() else 0o644)
        return Path(f"{stem}.pem"), Path(f"{stem}.key")

    def trust(self, machine: "Machine") -> None:
        """Adds the authority to the prefix's LocalMachine Root store, as the registry holds
        it: a serialized certificate (property 32, flags 1, length) under its SHA-1 in hex."""
        der = subprocess.run(["openssl", "x509", "-in", str(self.certificate), "-outform", "DER"],
                             check=True, capture_output=True, timeout=60).stdout
        key = ("HKLM\\Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\"
               + hashlib.sha1(der).hexdigest().upper())
        blob = struct.pack("<III", 32, 1, len(der)) + der
        done = machine.wine("reg", "add", key, "/v", "Blob", "/t", "REG_BINARY", "/d", blob.hex(),
                            "/f")
        assert done.returncode == 0, done.stdout


def publish(*args: str) -> subprocess.CompletedProcess:
    """scripts/publish for the brand of the build under test."""
    return subprocess.run([sys.executable, str(ROOT / "scripts" / "publish"),
                           "--brand", str(build_dir()), *args],
                          capture_output=True, text=True, timeout=60)


class LauncherCase(unittest.TestCase):
    """A class of runs sharing one test update service; every test starts from a clean machine
    (no application, no download, no stand-in traces) and a service in its default state."""

    machine: Machine
    service: UpdateService
    installer: bytes
    setup_path: str  # the downloaded installer's path as the launcher logs it

    @classmethod
    def setUpClass(cls) -> None:
        cls.machine = Machine()
        cls.service = UpdateService(max_hold_ms=120_000).start()
        cls.installer = cls.machine.fixture("setup-2.6", "Setup.exe").read_bytes()
        cls.setup_path = ("C:\\users\\" + getpass.getuser() +
                          f"\\Temp\\{BRAND['vendor_folder']}\\{BRAND['product_folder']}\\Setup.exe")

    @classmethod
    def tearDownClass(cls) -> None:
        cls.service.stop()
        cls.machine.reset()

    def setUp(self) -> None:
        self.machine.reset()
        self.service.reset()

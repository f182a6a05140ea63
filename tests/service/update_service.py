#!/usr/bin/env python3
"""Local stand-in for the update service and the installer's web server.

One HTTP/1.1 server on 127.0.0.1 answers the update check, serves the installer
and misbehaves on demand.  It never resolves or contacts any other host: it
accepts absolute-form request lines (``GET http://updates.example/p?q HTTP/1.1``)
as well as origin-form ones, so a client can be pointed at it as its HTTP proxy
(``http_proxy=http://127.0.0.1:PORT/``) and keep its compiled-in host name.

Routes (the host of an absolute-form line is ignored; it is only recorded)
-----------------------------------------------------------------------------
the brand's check path (any query)
    The update check reply: built from values (see ``build_check_reply``) or a
    raw body, optionally with the *check* fault applied.
the download path (default ``/files/Setup.exe``) and ``/files/<name>`` from
``--serve-dir``
    The installer bytes, optionally with the *download* fault applied.
``/fault/...``
    Faults picked by URL, for programs that have no control channel (below).
``/_control/...``
    Reconfiguration by a test harness (below).  Never faulted, never recorded.
``/tsa`` (POST, once ``set_time_stamper`` has named a certificate and key)
    A time-stamp server for code signatures: RFC 3161 requests
    (``application/timestamp-query``) and the older Authenticode ones (a
    base64 PKCS#7 request), each answered by openssl.

Installer files carry an ``ETag`` and ``Last-Modified`` and honour ``Range:
bytes=N-`` and ``If-Range`` unless ``ranges`` is off; ``changing_validator``
gives every reply new validators.  Body bytes sent are counted per path.

Every other path answers 404.  A service-wide mode ``close`` or ``hang`` makes
every request except ``/_control/`` hang up at once or go unanswered.

Faults chosen by URL
--------------------
The path names the reply; the query may add modifiers.

=================================  ==========================================
``/fault/status/<code>``           status <code>, short text body
``/fault/auth401[?realm=R]``       401 + ``WWW-Authenticate: Basic realm="R"``
``/fault/auth407[?realm=R]``       407 + ``Proxy-Authenticate: Basic realm="R"``
``/fault/empty``                   200, ``Content-Length: 0``
``/fault/body?hex=H`` / ``?text=T`` 200, exactly those bytes (T as UTF-8)
``/fault/utf8-invalid[?kind=K]``   200, a check reply holding one ill-formed
                                   sequence; K = ff (default), continuation,
                                   overlong, surrogate, above-max, truncated
``/fault/big-multibyte``           200, ``?prefix=P`` ASCII bytes (default 2)
  ``[?size=N&prefix=P]``           then U+4E2D (3 bytes each) up to N bytes
                                   (default 70000).  P=2 puts one character
                                   across both the 65535 and the 65536 byte
                                   boundary, P=1 only across 65535, P=0 only
                                   across 65536 (65535-byte reads then decode)
``/fault/bytes/<n>[?fill=F]``      200, n bytes: F=text (default, printable
                                   ASCII, no zero byte) or binary (0..255)
``/fault/drop/<n>/<total>``        = ``/fault/bytes/<total>?drop=<n>``
``/fault/trickle/<b>/<ms>/<total>`` = ``/fault/bytes/<total>?trickle=<b>,<ms>``
``/fault/check?Key=V&omit=K,K&``   200, a well-formed check reply; element
  ``order=K,K``                    values from the query, the rest defaulted
``/fault/close``                   read the request, hang up without a reply
``/fault/reset``                   the same, with a TCP reset
``/fault/hang[?ms=N]``             read the request, send nothing for N ms
                                   (default and cap: the maximum hold time),
                                   then hang up
``/fault/redirect/<n>[?to=URL]``   302 to ``/fault/redirect/<n-1>`` (same
                                   query), the last one to URL; n=0 (or no
                                   ``to``) ends in 200 ``arrived``
``/fault/redirect/loop``           302 to this very URL, for ever
=================================  ==========================================

Modifiers, valid on every ``/fault/`` reply:

``length=M``      send ``Content-Length: M`` whatever the body's size
``length=none``   send no Content-Length (the body ends when the connection does)
``drop=N``        send N body bytes, then hang up (``reset=1``: with a TCP reset,
                  which may cost the client bytes still in flight)
``trickle=B,MS``  send B body bytes every MS milliseconds
``cut_at=N``      (on installer files) hang up once byte N of the file is sent,
                  in a whole reply or a range; with ``times`` once or always
``header_bytes=N`` add about N bytes of filler header lines
``header_trickle=MS`` send the status line, then one header byte every MS
                  milliseconds, never ending the headers (until the hold time)
``overrun=N``     send the body chunked, under a Content-Length that names the
                  body alone, and N more bytes after it
``fails=K``       the fault applies to the first K requests of this exact URL
                  only; later ones get the same body with status 200 and no
                  modifiers.  Counted per path+query until ``/_control/reset``;
                  add e.g. ``&id=<unique>`` to get a fresh counter.

A reply with an altered length or delivery closes its connection afterwards
(``Connection: close``), so a wrong length never leaves stray bytes on a
kept-alive connection; other replies keep HTTP/1.1 persistent connections.

Control endpoints
-----------------
``POST /_control/config``    JSON (the same document as ``--config``)::

        {"check": {"fields": {"LatestVersion": "2.06"}, "omit": ["MD5"],
                   "order": ["MD5"], "before": "", "after": "",
                   "body_text": "...", "body_hex": "...", "fault": FAULT},
         "download": {"path": "/files/Setup.exe", "file": "/abs/Setup.exe",
                      "data_text": "...", "data_hex": "...", "fault": FAULT},
         "faults": {"check": FAULT, "download": FAULT, "both": FAULT},
         "mode": "normal" | "close" | "hang",
         "max_hold_ms": 60000}

    Only the top-level keys present change anything.  ``check`` replaces the
    whole check reply (no body: built from ``fields`` and defaults);
    ``download`` adds or replaces the file at ``path`` (when one is given) and
    sets the download fault; ``faults`` changes only faults.  FAULT is
    ``null`` or an object with the fields of ``Fault`` (``body_hex`` or
    ``body_text`` for its body, ``trickle`` as ``[bytes, ms]``).
``GET /_control/requests``   JSON list of the recorded requests
``POST /_control/clear``     forget the recorded requests
``POST /_control/reset``     default configuration, no requests, no counters
``GET /_control/health``     ``ok``

Python API
----------
``UpdateService(port=0, *, serve_dir=None, max_hold_ms=60000)`` with
``start()``, ``stop()`` (also a context manager), ``port``, ``base_url``,
``set_check_reply(body=None, *, omit=(), order=(), before="", after="",
fault=None, **fields)``, ``set_download(data=None, *, file=None,
path="/files/Setup.exe", fault=None, ranges=True, changing_validator=False)``,
``bytes_served(path="/files/Setup.exe")``, ``set_fault(target, fault)``,
``set_time_stamper(certificate, key)``,
``set_mode(mode)``, ``configure(dict)``, ``requests()``, ``clear_requests()``,
``reset()``; module functions ``build_check_reply(...)`` and
``unreachable_port()``.

Command line: ``update_service.py [--port N] [--port-file F] [--config JSON]
[--serve-dir DIR] [--max-hold-ms N] [--max-lifetime S] [--verbose]`` prints the
port, writes it to F, and serves until SIGTERM/SIGINT or the lifetime ends.
"""

from __future__ import annotations

import argparse
import binascii
import copy
import dataclasses
import hashlib
import http.server
import json
import os
import posixpath
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse
from pathlib import Path
from typing import Any

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "scripts"))
import launcher_brand  # noqa: E402  (its folder is put on the path just above)

# The brand of the build under test (LAUNCHER_BUILD_DIR), else the default brand.
BRAND = launcher_brand.load()
CHECK_PATH = BRAND["check_path"]
DEFAULT_DOWNLOAD_PATH = "/files/Setup.exe"
REPLY_KEYS = ("ReturnCode", "LatestSKU", "LatestVersion", "UpdateAvailable",
              "ServerPath", "FileName", "FileSize", "MD5")
DEFAULT_FIELDS = {
    "ReturnCode": "1",
    "LatestSKU": BRAND["sku"],
    "LatestVersion": "2.06",
    "UpdateAvailable": "Y",
    "FileName": "Setup.exe",
}
DEFAULT_MAX_HOLD_MS = 60_000
# Socket timeout for every accepted connection: an idle or stalled client can
# tie up a handler thread for no longer than this.
CONNECTION_TIMEOUT_S = 20.0
# Caps on sizes taken from URLs, so a typo can't make the service build gigabytes.
MAX_GENERATED_BYTES = 64 * 1024 * 1024
MAX_RECORDED_REQUESTS = 10_000

BIG_CHAR = "\u4e2d".encode("utf-8")  # three bytes
INVALID_UTF8 = {
    "ff": b"\xff",
    "continuation": b"\x80",
    "overlong": b"\xc0\xaf",
    "surrogate": b"\xed\xa0\x80",
    "above-max": b"\xf4\x90\x80\x80",
    "truncated": b"\xe4\xb8",
}


def build_check_reply(*, omit=(), order=(), before: str = "", after: str = "",
                      **fields: Any) -> bytes:
    """A check reply body in UTF-8: one ``<Key>value</Key>`` line per element.

    The eight reply keys get defaults (``ServerPath`` http://127.0.0.1/files/,
    ``FileSize`` 0, ``MD5`` empty digest text) unless given.  Keys in ``order``
    come first, in that order, then the remaining ones in the usual order, then
    any extra keys given; keys in ``omit`` are left out.  Values are written
    verbatim (``str(value)``), so blanks or line breaks inside them stay.
    """
    values = dict(DEFAULT_FIELDS)
    values.setdefault("ServerPath", "http://127.0.0.1/files/")
    values.setdefault("FileSize", "0")
    values.setdefault("MD5", hashlib.md5(b"").hexdigest())
    values.update(fields)
    unknown = [k for k in list(order) + list(omit) if k not in values]
    if unknown:
        raise ValueError(f"unknown reply keys: {unknown}")
    keys = list(dict.fromkeys(list(order) + list(REPLY_KEYS) + list(fields)))
    lines = [f"<{k}>{values[k]}</{k}>" for k in keys if k not in omit]
    return (before + "\r\n".join(lines) + after).encode("utf-8")


def big_multibyte_body(size: int = 70_000, prefix: int = 2) -> bytes:
    """``prefix`` ASCII bytes, then three-byte characters, at most ``size`` bytes."""
    count = max(0, size - prefix) // len(BIG_CHAR)
    return b"a" * prefix + BIG_CHAR * count


def invalid_utf8_body(kind: str = "ff") -> bytes:
    """A check reply with one ill-formed sequence after its first line."""
    reply = build_check_reply()
    cut = reply.index(b"\n") + 1
    return reply[:cut] + INVALID_UTF8[kind] + reply[cut:]


def generated_bytes(n: int, fill: str = "text") -> bytes:
    if fill == "binary":
        return bytes(i & 0xFF for i in range(n))
    pattern = b"0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ\r\n"
    return (pattern * (n // len(pattern) + 1))[:n]


def unreachable_port() -> int:
    """A 127.0.0.1 port with nothing listening (free at the time of the call)."""
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


@dataclasses.dataclass
class Fault:
    """How one reply goes wrong.  The default instance changes nothing."""

    status: int | None = None           # status instead of 200
    headers: dict = dataclasses.field(default_factory=dict)
    body: bytes | None = None           # body instead of the configured one
    length: int | str | None = None     # Content-Length sent: int, "omit", or None = true size
    length_offset: int = 0              # added to the true size: "wrong by N"
    drop_after: int | None = None       # body bytes sent before hanging up
    cut_at: int | None = None           # installer files: hang up once this file offset is sent
    trickle: tuple[int, int] | None = None  # (bytes, milliseconds) per step
    action: str = "reply"               # "reply", "close" (no reply) or "hang" (hold, no reply)
    reset: bool = False                 # hang up with a TCP reset instead of FIN
    hold_ms: int | None = None          # "hang": how long; capped by the service's maximum
    times: int | None = None            # apply to the next N requests only, then vanish
    header_bytes: int = 0               # filler header lines of about this many bytes
    header_trickle: int | None = None   # status line, then a header byte every N ms, no end
    overrun: int = 0                    # chunked body, this many bytes past the announced length

    @classmethod
    def http_status(cls, code: int, **kw) -> "Fault":
        return cls(status=code, **kw)

    @classmethod
    def auth401(cls, realm: str = "updates", **kw) -> "Fault":
        return cls(status=401, headers={"WWW-Authenticate": f'Basic realm="{realm}"'}, **kw)

    @classmethod
    def proxy407(cls, realm: str = "proxy", **kw) -> "Fault":
        return cls(status=407, headers={"Proxy-Authenticate": f'Basic realm="{realm}"'}, **kw)

    @classmethod
    def no_length(cls, **kw) -> "Fault":
        return cls(length="omit", **kw)

    @classmethod
    def wrong_length(cls, offset: int, **kw) -> "Fault":
        return cls(length_offset=offset, **kw)

    @classmethod
    def drop(cls, after: int, *, reset: bool = False, **kw) -> "Fault":
        return cls(drop_after=after, reset=reset, **kw)

    @classmethod
    def slow(cls, nbytes: int, every_ms: int, **kw) -> "Fault":
        return cls(trickle=(nbytes, every_ms), **kw)

    @classmethod
    def close(cls, *, reset: bool = False, **kw) -> "Fault":
        return cls(action="close", reset=reset, **kw)

    @classmethod
    def hang(cls, hold_ms: int | None = None, **kw) -> "Fault":
        return cls(action="hang", hold_ms=hold_ms, **kw)

    @classmethod
    def invalid_utf8(cls, kind: str = "ff", **kw) -> "Fault":
        return cls(body=invalid_utf8_body(kind), **kw)

    @classmethod
    def big_multibyte(cls, size: int = 70_000, prefix: int = 2, **kw) -> "Fault":
        return cls(body=big_multibyte_body(size, prefix), **kw)

    @classmethod
    def from_dict(cls, d: dict | None) -> "Fault | None":
        if d is None:
            return None
        d = dict(d)
        if "body_hex" in d:
            d["body"] = binascii.unhexlify(d.pop("body_hex"))
        if "body_text" in d:
            d["body"] = d.pop("body_text").encode("utf-8")
        if d.get("trickle") is not None:
            d["trickle"] = tuple(d["trickle"])
        names = {f.name for f in dataclasses.fields(cls)}
        unknown = set(d) - names
        if unknown:
            raise ValueError(f"unknown fault fields: {sorted(unknown)}")
        return cls(**d)

    def alters_delivery(self) -> bool:
        """Whether the reply's framing can't be trusted, so its connection must end."""
        return (self.length is not None or self.length_offset != 0 or self.reset
                or self.drop_after is not None or self.trickle is not None
                or self.cut_at is not None or self.overrun > 0)


def _parse_fault_url(path: str, query: dict[str, str]) -> tuple[int, dict, bytes, Fault]:
    """Turns a ``/fault/...`` URL into (status, headers, body, modifiers)."""
    parts = [p for p in path.split("/") if p][1:]  # drop "fault"
    if not parts:
        raise ValueError("no fault named")
    kind, args = parts[0], parts[1:]
    status, headers, body = 200, {}, b""
    mods = Fault()
    if kind == "status":
        status = int(args[0])
        body = f"status {status}\r\n".encode()
    elif kind in ("auth401", "auth407"):
        realm = query.get("realm", "updates")
        status = int(kind[4:])
        name = "WWW-Authenticate" if status == 401 else "Proxy-Authenticate"
        headers[name] = f'Basic realm="{realm}"'
        body = b"authentication required\r\n"
    elif kind == "empty":
        body = b""
    elif kind == "body":
        body = (binascii.unhexlify(query["hex"]) if "hex" in query
                else query.get("text", "").encode("utf-8"))
    elif kind == "utf8-invalid":
        body = invalid_utf8_body(query.get("kind", "ff"))
    elif kind == "big-multibyte":
        body = big_multibyte_body(int(query.get("size", 70_000)), int(query.get("prefix", 2)))
    elif kind in ("bytes", "drop", "trickle"):
        total = int(args[-1])
        if not 0 <= total <= MAX_GENERATED_BYTES:
            raise ValueError("size out of range")
        body = generated_bytes(total, query.get("fill", "text"))
        if kind == "drop":
            mods.drop_after = int(args[0])
        elif kind == "trickle":
            mods.trickle = (int(args[0]), int(args[1]))
    elif kind == "check":
        fields = {k: v for k, v in query.items() if k in REPLY_KEYS}
        omit = [k for k in query.get("omit", "").split(",") if k]
        order = [k for k in query.get("order", "").split(",") if k]
        body = build_check_reply(omit=omit, order=order, **fields)
    elif kind in ("close", "reset"):
        mods.action, mods.reset = "close", kind == "reset"
    elif kind == "hang":
        mods.action = "hang"
        mods.hold_ms = int(query["ms"]) if "ms" in query else None
    elif kind == "redirect":
        tail = "?" + urllib.parse.urlencode(query) if query else ""
        if args[0] == "loop":
            location = "/fault/redirect/loop" + tail
        else:
            hops = int(args[0])
            location = (query["to"] if hops == 1 and "to" in query
                        else f"/fault/redirect/{hops - 1}{tail}")
        if args[0] == "loop" or hops > 0:
            status, headers["Location"] = 302, location
            body = b"moved\r\n"
        else:
            body = b"arrived\r\n"
    else:
        raise ValueError(f"unknown fault {kind!r}")

    if "length" in query:
        mods.length = "omit" if query["length"] == "none" else int(query["length"])
    if "drop" in query:
        mods.drop_after = int(query["drop"])
    if "trickle" in query:
        b, ms = query["trickle"].split(",")
        mods.trickle = (int(b), int(ms))
    if query.get("reset") == "1":
        mods.reset = True
    for name in ("header_bytes", "header_trickle", "overrun"):
        if name in query:
            setattr(mods, name, int(query[name]))
    return status, headers, body, mods


def time_stamp(request: bytes, rfc3161: bool, certificate: str, key: str, folder: str) -> bytes:
    """openssl's reply to one time-stamp request. An Authenticode request asks for a PKCS#7
    signature over the signature being stamped: its last OCTET STRING."""
    query, reply = os.path.join(folder, "query"), os.path.join(folder, "reply")
    if rfc3161:
        config = os.path.join(folder, "tsa.cnf")
        with open(config, "w", encoding="ascii") as f:
            f.write("[tsa]\ndefault_tsa = stamper\n[stamper]\n"
                    f"serial = {os.path.join(folder, 'serial')}\ncrypto_device = builtin\n"
                    "signer_digest = sha256\ndefault_policy = 1.2.3.4.1\n"
                    "digests = sha1, sha256, sha384, sha512\ness_cert_id_alg = sha256\n")
        with open(query, "wb") as f:
            f.write(request)
        command = ["openssl", "ts", "-reply", "-config", config, "-queryfile", query,
                   "-signer", certificate, "-inkey", key, "-out", reply]
    else:
        der = binascii.a2b_base64(request)
        with open(query, "wb") as f:
            f.write(der)
        parsed = subprocess.run(["openssl", "asn1parse", "-inform", "DER", "-in", query],
                                capture_output=True, text=True, check=True, timeout=30)
        last = [line for line in parsed.stdout.splitlines() if "OCTET STRING" in line][-1]
        offset = int(last.split(":")[0])
        start = offset + int(last.split("hl=")[1].split()[0])
        with open(query, "wb") as f:
            f.write(der[start:start + int(last.split(" l=")[1].split()[0])])
        command = ["openssl", "cms", "-sign", "-binary", "-nodetach", "-nosmimecap", "-md",
                   "sha1", "-in", query, "-signer", certificate, "-inkey", key,
                   "-outform", "DER", "-out", reply]
    subprocess.run(command, capture_output=True, check=True, timeout=30)
    with open(reply, "rb") as f:
        data = f.read()
    return data if rfc3161 else binascii.b2a_base64(data, newline=False)


class _Config:
    """What the service answers; replaced wholesale on reset."""

    def __init__(self) -> None:
        self.check_fields: dict[str, Any] = {}
        self.check_omit: list[str] = []
        self.check_order: list[str] = []
        self.check_before = ""
        self.check_after = ""
        self.check_body: bytes | None = None
        self.check_fault: Fault | None = None
        self.download_path = DEFAULT_DOWNLOAD_PATH
        self.files: dict[str, bytes | str] = {}   # path -> bytes, or a file name read per request
        self.download_fault: Fault | None = None
        self.ranges = True
        self.changing_validator = False
        self.validator_generation = 0
        self.mode = "normal"


class UpdateService:
    """The service in a background thread of this process."""

    def __init__(self, port: int = 0, *, serve_dir: str | None = None,
                 max_hold_ms: int = DEFAULT_MAX_HOLD_MS, verbose: bool = False) -> None:
        self._requested_port = port
        self.serve_dir = os.path.abspath(serve_dir) if serve_dir else None
        self.max_hold_ms = max_hold_ms
        self.verbose = verbose
        self._lock = threading.Lock()
        self._config = _Config()
        self._requests: list[dict] = []
        self._url_hits: dict[str, int] = {}
        self._served: dict[str, int] = {}
        self._stopping = threading.Event()
        self._time_stamper: tuple[str, str] | None = None
        self._server: _Server | None = None
        self._thread: threading.Thread | None = None

    # -- life cycle ---------------------------------------------------------
    def start(self) -> "UpdateService":
        if self._server is not None:
            raise RuntimeError("already started")
        self._stopping.clear()
        self._server = _Server(("127.0.0.1", self._requested_port), _Handler, self)
        self._thread = threading.Thread(target=self._server.serve_forever,
                                        kwargs={"poll_interval": 0.1},
                                        name="update-service", daemon=True)
        self._thread.start()
        return self

    def stop(self) -> None:
        if self._server is None:
            return
        self._stopping.set()  # wakes held and trickling handlers
        self._server.shutdown()
        self._server.server_close()
        if self._thread is not None:
            self._thread.join(timeout=5)
        self._server = None

    def __enter__(self) -> "UpdateService":
        return self.start()

    def __exit__(self, *exc) -> None:
        self.stop()

    @property
    def port(self) -> int:
        if self._server is None:
            raise RuntimeError("not started")
        return self._server.server_address[1]

    @property
    def base_url(self) -> str:
        return f"http://127.0.0.1:{self.port}/"

    # -- configuration ------------------------------------------------------
    def set_check_reply(self, body: bytes | str | None = None, *, omit=(), order=(),
                        before: str = "", after: str = "", fault: Fault | None = None,
                        **fields: Any) -> None:
        """A raw ``body``, or a reply built per request from ``fields``.

        Built replies default ``ServerPath`` to this service's download folder,
        ``FileName`` to the download's name, and ``FileSize``/``MD5`` to the
        download's current size and digest.
        """
        if body is not None and (fields or omit or order or before or after):
            raise ValueError("give either a body or reply values")
        if isinstance(body, str):
            body = body.encode("utf-8")
        with self._lock:
            c = self._config
            c.check_body = body
            c.check_fields = dict(fields)
            c.check_omit, c.check_order = list(omit), list(order)
            c.check_before, c.check_after = before, after
            c.check_fault = fault

    def set_download(self, data: bytes | None = None, *, file: str | None = None,
                     path: str = DEFAULT_DOWNLOAD_PATH, fault: Fault | None = None,
                     ranges: bool = True, changing_validator: bool = False) -> None:
        """Serves ``data`` (or the file ``file``, read at each request) at ``path``."""
        if (data is None) == (file is None):
            raise ValueError("give exactly one of data and file")
        with self._lock:
            self._config.download_path = path
            self._config.files[path] = data if data is not None else os.path.abspath(file)
            self._config.download_fault = fault
            self._config.ranges = ranges
            self._config.changing_validator = changing_validator

    def bytes_served(self, path: str = DEFAULT_DOWNLOAD_PATH) -> int:
        """Body bytes sent for ``path`` since the last reset."""
        with self._lock:
            return self._served.get(path, 0)

    def set_fault(self, target: str, fault: Fault | None) -> None:
        """``target``: "check", "download" or "both"; ``None`` clears."""
        if target not in ("check", "download", "both"):
            raise ValueError(target)
        with self._lock:
            if target in ("check", "both"):
                self._config.check_fault = copy.deepcopy(fault)
            if target in ("download", "both"):
                self._config.download_fault = copy.deepcopy(fault)

    def set_time_stamper(self, certificate: str, key: str) -> None:
        """Answers time-stamp requests at ``/tsa``, signed with these PEM files (the
        certificate needs the critical timeStamping extended key usage)."""
        with self._lock:
            self._time_stamper = (os.path.abspath(certificate), os.path.abspath(key))

    def set_mode(self, mode: str) -> None:
        """"normal", "close" (hang up on every request) or "hang" (answer none)."""
        if mode not in ("normal", "close", "hang"):
            raise ValueError(mode)
        with self._lock:
            self._config.mode = mode

    def configure(self, doc: dict) -> None:
        """Applies a JSON configuration document (see the module docstring)."""
        if "check" in doc:
            chk = doc["check"] or {}
            body = None
            if "body_hex" in chk:
                body = binascii.unhexlify(chk["body_hex"])
            elif "body_text" in chk:
                body = chk["body_text"].encode("utf-8")
            self.set_check_reply(body, omit=chk.get("omit", ()), order=chk.get("order", ()),
                                 before=chk.get("before", ""), after=chk.get("after", ""),
                                 fault=Fault.from_dict(chk.get("fault")),
                                 **chk.get("fields", {}))
        if "download" in doc:
            dl = doc["download"] or {}
            path = dl.get("path", DEFAULT_DOWNLOAD_PATH)
            fault = Fault.from_dict(dl.get("fault"))
            if "file" in dl:
                self.set_download(file=dl["file"], path=path, fault=fault)
            elif "data_hex" in dl or "data_text" in dl:
                data = (binascii.unhexlify(dl["data_hex"]) if "data_hex" in dl
                        else dl["data_text"].encode("utf-8"))
                self.set_download(data, path=path, fault=fault)
            else:
                with self._lock:
                    self._config.download_path = path
                    self._config.download_fault = fault
        for target, fault in (doc.get("faults") or {}).items():
            self.set_fault(target, Fault.from_dict(fault))
        if "mode" in doc:
            self.set_mode(doc["mode"])
        if "max_hold_ms" in doc:
            self.max_hold_ms = int(doc["max_hold_ms"])

    def reset(self) -> None:
        with self._lock:
            self._config = _Config()
            self._requests.clear()
            self._url_hits.clear()
            self._served.clear()

    # -- recorded requests --------------------------------------------------
    def requests(self) -> list[dict]:
        """Each: method, target (as sent), path, query, path_query, absolute,
        host, version, headers, time (seconds since the epoch)."""
        with self._lock:
            return copy.deepcopy(self._requests)

    def clear_requests(self) -> None:
        with self._lock:
            self._requests.clear()

    # -- used by the handler ------------------------------------------------
    def _record(self, entry: dict) -> None:
        with self._lock:
            self._requests.append(entry)
            del self._requests[:-MAX_RECORDED_REQUESTS]

    def _take_fault(self, target: str) -> Fault | None:
        """The target's fault for this request, counting down ``times``."""
        with self._lock:
            attr = f"{target}_fault"
            fault = getattr(self._config, attr)
            if fault is None:
                return None
            if fault.times is not None:
                if fault.times <= 0:
                    setattr(self._config, attr, None)
                    return None
                fault.times -= 1
            return copy.deepcopy(fault)

    def _count_url(self, path_query: str) -> int:
        with self._lock:
            self._url_hits[path_query] = self._url_hits.get(path_query, 0) + 1
            return self._url_hits[path_query]

    def _count_served(self, path: str, count: int) -> None:
        with self._lock:
            self._served[path] = self._served.get(path, 0) + count

    def _validators(self, data: bytes) -> tuple[bool, str, str]:
        """(ranges honoured?, ETag, Last-Modified) for one reply with ``data``."""
        with self._lock:
            c = self._config
            if c.changing_validator:
                c.validator_generation += 1
            generation, ranges = c.validator_generation, c.ranges
        etag = f'"{hashlib.md5(data).hexdigest()[:16]}-{generation}"'
        modified = time.strftime("%a, %d %b %Y %H:%M:%S GMT",
                                 time.gmtime(1_700_000_000 + generation))
        return ranges, etag, modified

    def _mode(self) -> str:
        with self._lock:
            return self._config.mode

    def _file_bytes(self, path: str) -> bytes | None:
        with self._lock:
            source = self._config.files.get(path)
        if isinstance(source, bytes):
            return source
        if source is None and self.serve_dir and path.startswith("/files/"):
            rel = posixpath.normpath(urllib.parse.unquote(path[len("/files/"):]))
            if rel.startswith("..") or rel.startswith("/"):
                return None
            source = os.path.join(self.serve_dir, *rel.split("/"))
        if source is None:
            return None
        try:
            with open(source, "rb") as f:
                return f.read()
        except OSError:
            return None

    def _check_body(self) -> bytes:
        with self._lock:
            c = self._config
            if c.check_body is not None:
                return c.check_body
            fields, omit, order = dict(c.check_fields), c.check_omit, c.check_order
            before, after, download_path = c.check_before, c.check_after, c.download_path
        folder, name = posixpath.split(download_path)
        fields.setdefault("ServerPath", f"http://127.0.0.1:{self.port}{folder.rstrip('/')}/")
        fields.setdefault("FileName", name)
        if "FileSize" not in fields or "MD5" not in fields:
            data = self._file_bytes(download_path) or b""
            fields.setdefault("FileSize", str(len(data)))
            fields.setdefault("MD5", hashlib.md5(data).hexdigest())
        return build_check_reply(omit=omit, order=order, before=before, after=after, **fields)


class _Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, address, handler, service: UpdateService) -> None:
        if address[0] != "127.0.0.1":
            raise ValueError("loopback only")
        self.service = service
        super().__init__(address, handler)


class _Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "UpdateStandIn/1.0"
    timeout = CONNECTION_TIMEOUT_S
    server: _Server

    @property
    def service(self) -> UpdateService:
        return self.server.service

    def log_message(self, fmt: str, *args) -> None:
        if self.service.verbose:
            sys.stderr.write("update_service: " + (fmt % args) + "\n")

    # -- request line -------------------------------------------------------
    def _split_target(self) -> tuple[str, str, bool, str]:
        """(path, query, absolute-form?, host) of the request target."""
        target = self.path
        absolute = target[:7].lower() == "http://" or target[:8].lower() == "https://"
        if absolute:
            parts = urllib.parse.urlsplit(target)
            host, path, query = parts.netloc, parts.path or "/", parts.query
        else:
            path, _, query = target.partition("?")
            host = self.headers.get("Host", "")
        return path, query, absolute, host

    def do_GET(self) -> None:
        self._dispatch()

    def do_POST(self) -> None:
        self._dispatch()

    def _dispatch(self) -> None:
        self._served_path = None
        path, query, absolute, host = self._split_target()
        path_query = path + ("?" + query if query else "")
        if path.startswith("/_control/"):
            self._control(path)
            return
        self.service._record({
            "method": self.command, "target": self.path, "path": path, "query": query,
            "path_query": path_query, "absolute": absolute, "host": host,
            "version": self.request_version, "headers": dict(self.headers.items()),
            "time": time.time(),
        })
        if path == "/tsa" and self.command == "POST" and self.service._time_stamper:
            self._time_stamp()
            return
        self._discard_request_body()
        mode = self.service._mode()
        if mode != "normal":
            self._send(200, {}, b"", Fault(action=mode))
        elif path.startswith("/fault/"):
            self._fault_url(path, query, path_query)
        elif path == CHECK_PATH:
            self._send(200, {"Content-Type": "text/xml; charset=utf-8"},
                       self.service._check_body(), self.service._take_fault("check"))
        else:
            data = self.service._file_bytes(path)
            if data is None:
                self._send(404, {}, b"not found\r\n", None)
            else:
                self._send_file(path, data)

    def _fault_url(self, path: str, query: str, path_query: str) -> None:
        try:
            q = dict(urllib.parse.parse_qsl(query, keep_blank_values=True))
            status, headers, body, mods = _parse_fault_url(path, q)
        except (ValueError, KeyError, IndexError, binascii.Error) as e:
            self._send(400, {}, f"bad fault URL: {e}\r\n".encode(), None)
            return
        if "fails" in q and self.service._count_url(path_query) > int(q["fails"]):
            self._send(200, {}, body, None)
        else:
            self._send(status, headers, body, mods)

    def _send_file(self, path: str, data: bytes) -> None:
        ranges, etag, modified = self.service._validators(data)
        headers = {"Content-Type": "application/octet-stream", "ETag": etag,
                   "Last-Modified": modified}
        status, offset = 200, 0
        wanted = self.headers.get("Range", "")
        if_range = self.headers.get("If-Range")
        if ranges:
            headers["Accept-Ranges"] = "bytes"
            first = wanted[6:-1] if wanted.startswith("bytes=") and wanted.endswith("-") else ""
            if first.isdigit() and if_range in (None, etag, modified):
                offset = int(first)
                if offset >= len(data):
                    headers["Content-Range"] = f"bytes */{len(data)}"
                    self._send(416, headers, b"", None)
                    return
                status = 206
                headers["Content-Range"] = f"bytes {offset}-{len(data) - 1}/{len(data)}"
        self._served_path = path
        self._send(status, headers, data[offset:], self.service._take_fault("download"),
                   offset=offset)

    def _time_stamp(self) -> None:
        length = min(int(self.headers.get("Content-Length") or 0), MAX_GENERATED_BYTES)
        request = self.rfile.read(length)
        rfc3161 = self.headers.get("Content-Type") == "application/timestamp-query"
        try:
            with tempfile.TemporaryDirectory(prefix="tsa-") as folder:
                reply = time_stamp(request, rfc3161, *self.service._time_stamper, folder)
        except (subprocess.SubprocessError, ValueError, IndexError, binascii.Error) as e:
            self._send(400, {}, f"bad time-stamp request: {e}\r\n".encode(), None)
            return
        kind = "application/timestamp-reply" if rfc3161 else "application/octet-stream"
        self._send(200, {"Content-Type": kind}, reply, None)

    def _discard_request_body(self) -> None:
        length = int(self.headers.get("Content-Length") or 0)
        if length > 0:
            self.rfile.read(min(length, MAX_GENERATED_BYTES))

    # -- replies ------------------------------------------------------------
    def _send(self, status: int, headers: dict, body: bytes, fault: Fault | None,
              offset: int = 0) -> None:
        try:
            self._send_unguarded(status, headers, body, fault, offset)
        except (ConnectionError, socket.timeout, OSError):
            self.close_connection = True

    def _send_unguarded(self, status: int, headers: dict, body: bytes,
                        fault: Fault | None, offset: int) -> None:
        f = fault or Fault()
        if f.action == "close":
            self._hang_up(f.reset)
            return
        if f.action == "hang":
            limit = self.service.max_hold_ms
            hold = limit if f.hold_ms is None else min(f.hold_ms, limit)
            self.service._stopping.wait(hold / 1000)
            self._hang_up(f.reset)
            return
        if f.body is not None:
            body = f.body
        if f.status is not None:
            status = f.status
        if f.header_trickle is not None:
            self._trickle_headers(status, f.header_trickle)
            return

        self.send_response(status)
        for name, value in {**headers, **f.headers}.items():
            self.send_header(name, value)
        for i in range(0, min(f.header_bytes, MAX_GENERATED_BYTES), 1000):
            self.send_header(f"X-Filler-{i}", "f" * 980)
        if f.overrun > 0:
            self.send_header("Transfer-Encoding", "chunked")
        if f.length == "omit":
            pass
        elif isinstance(f.length, int):
            self.send_header("Content-Length", str(f.length))
        else:
            self.send_header("Content-Length", str(len(body) + f.length_offset))
        if f.alters_delivery() or self.close_connection:
            self.send_header("Connection", "close")
            self.close_connection = True
        self.end_headers()

        to_send = body if f.drop_after is None else body[:f.drop_after]
        if f.cut_at is not None:
            to_send = to_send[:max(0, f.cut_at - offset)]
        if f.overrun > 0:
            self._write_chunked(to_send + generated_bytes(min(f.overrun, MAX_GENERATED_BYTES)))
        elif f.trickle is None:
            self._write_body(to_send)
        else:
            step, every_ms = max(1, f.trickle[0]), f.trickle[1]
            for i in range(0, len(to_send), step):
                if i and self.service._stopping.wait(every_ms / 1000):
                    self._hang_up(False)
                    return
                self._write_body(to_send[i:i + step])
        if f.drop_after is not None or f.cut_at is not None:
            self._hang_up(f.reset)

    def _trickle_headers(self, status: int, every_ms: int) -> None:
        """The status line, then one header byte per step: headers that never end."""
        self.close_connection = True
        self.wfile.write(f"HTTP/1.1 {status} OK\r\nX-Slow: ".encode())
        end = time.monotonic() + self.service.max_hold_ms / 1000
        while time.monotonic() < end and not self.service._stopping.wait(every_ms / 1000):
            self.wfile.write(b"s")
            self.wfile.flush()
        self._hang_up(False)

    def _write_chunked(self, data: bytes) -> None:
        for i in range(0, len(data), 65536):
            piece = data[i:i + 65536]
            self.wfile.write(b"%x\r\n" % len(piece) + piece + b"\r\n")
            path = getattr(self, "_served_path", None)
            if path:
                self.service._count_served(path, len(piece))
        self.wfile.write(b"0\r\n\r\n")

    def _write_body(self, chunk: bytes) -> None:
        self.wfile.write(chunk)
        path = getattr(self, "_served_path", None)
        if path:
            self.service._count_served(path, len(chunk))

    def _hang_up(self, reset: bool) -> None:
        """Ends the connection now: FIN after what was sent, or a TCP reset."""
        self.close_connection = True
        sock = self.connection
        try:
            if reset:
                sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            else:
                sock.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        # The buffered reader holds a reference; the descriptor closes (and a
        # reset is sent) only when both are gone.
        self.rfile.close()
        sock.close()

    # -- control ------------------------------------------------------------
    def _control(self, path: str) -> None:
        svc = self.service
        name = path[len("/_control/"):]
        try:
            if self.command == "GET" and name == "requests":
                self._json(200, svc.requests())
            elif self.command == "GET" and name == "health":
                self._send(200, {"Content-Type": "text/plain"}, b"ok", None)
            elif self.command == "POST" and name == "config":
                length = int(self.headers.get("Content-Length") or 0)
                svc.configure(json.loads(self.rfile.read(length) or b"{}"))
                self._json(200, {"ok": True})
            elif self.command == "POST" and name == "clear":
                self._discard_request_body()
                svc.clear_requests()
                self._json(200, {"ok": True})
            elif self.command == "POST" and name == "reset":
                self._discard_request_body()
                svc.reset()
                self._json(200, {"ok": True})
            else:
                self._json(404, {"error": f"no control {self.command} {name}"})
        except (ValueError, TypeError, KeyError, binascii.Error) as e:
            self._json(400, {"error": str(e)})

    def _json(self, status: int, value: Any) -> None:
        self._send(status, {"Content-Type": "application/json"},
                   json.dumps(value).encode("utf-8"), None)


def _write_port_file(path: str, port: int) -> None:
    # Written whole and then renamed, so a watcher never reads a partial number.
    tmp = path + ".tmp"
    with open(tmp, "w", encoding="ascii") as f:
        f.write(f"{port}\n")
    os.replace(tmp, path)


def main(argv: list[str] | None = None) -> int:
    ap = argparse.ArgumentParser(description="Local stand-in update service (127.0.0.1 only).")
    ap.add_argument("--port", type=int, default=0, help="port, 0 for a free one")
    ap.add_argument("--port-file", help="write the port number to this file")
    ap.add_argument("--config", help="JSON configuration document")
    ap.add_argument("--serve-dir", help="serve this folder's files under /files/")
    ap.add_argument("--max-hold-ms", type=int, default=DEFAULT_MAX_HOLD_MS)
    ap.add_argument("--max-lifetime", type=float, default=3600.0,
                    help="stop after this many seconds whatever happens")
    ap.add_argument("--verbose", action="store_true")
    args = ap.parse_args(argv)

    svc = UpdateService(args.port, serve_dir=args.serve_dir, max_hold_ms=args.max_hold_ms,
                        verbose=args.verbose)
    if args.config:
        with open(args.config, encoding="utf-8") as f:
            config = json.load(f)
    svc.start()
    try:
        if args.config:
            svc.configure(config)
        done = threading.Event()
        for sig in (signal.SIGTERM, signal.SIGINT):
            signal.signal(sig, lambda *_: done.set())
        if args.port_file:
            _write_port_file(args.port_file, svc.port)
        print(svc.port, flush=True)  # last: whoever reads it may use the file at once
        done.wait(args.max_lifetime)
    finally:
        svc.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main())

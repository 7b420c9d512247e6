"""A sandbox for running the real updater: a loopback HTTP server, a private settings store
(the POSIX INI store, or the registry of a Wine prefix) and a throw-away application directory.
Used by the demo and by the end-to-end tests."""

import hashlib
import http.server
import os
import shutil
import subprocess
import ssl
import tempfile
import threading
import time


def hex_document(data: bytes) -> bytes:
    """A file document carrying `data` as hexadecimal text."""
    return (b'<?xml version="1.0" encoding="ISO-8859-1"?><documento><fichero>'
            + data.hex().upper().encode("ascii") + b"</fichero></documento>")


class LoopbackServer:
    """HTTP on 127.0.0.1 and an ephemeral port, serving documents set by the caller. A path can
    be held back: its request waits until release() is called. Every document carries an ETag and
    a request "Range: bytes=N-" whose If-Range matches it gets 206 from byte N, as a static server
    answers; `bytes_per_second` paces every body like a slow line."""

    def __init__(self, tls=None):
        """`tls`: (certificate file, key file) to serve https instead of http."""
        self.documents = {}
        self._scheme = "https" if tls else "http"
        self.requests = []
        self.ranges = []  # the Range header of each request that had one
        self.bytes_sent = 0  # body bytes, over every answer
        self.bytes_per_second = 0  # 0: as fast as the client reads
        self._held = {}
        server = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                server.requests.append(self.path)
                gate = server._held.get(self.path)
                if gate is not None:
                    gate.wait(60)
                body = server.documents.get(self.path)
                if body is None:
                    self.send_response(404)
                    body = b"not found"
                    start = 0
                else:
                    start = server._range_start(self.headers, body)
                    self.send_response(206 if start else 200)
                    self.send_header("ETag", server.etag(body))
                    if start:
                        self.send_header("Content-Range",
                                         f"bytes {start}-{len(body) - 1}/{len(body)}")
                self.send_header("Content-Type", "text/xml")
                self.send_header("Content-Length", str(len(body) - start))
                self.send_header("Connection", "close")
                self.end_headers()
                server._send(self.wfile, body[start:])

            def log_message(self, *args):
                pass

        self._httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self._httpd.daemon_threads = True
        if tls:
            context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            context.load_cert_chain(*tls)
            self._httpd.socket = context.wrap_socket(self._httpd.socket, server_side=True)
        self._thread = threading.Thread(target=self._httpd.serve_forever, daemon=True)
        self._thread.start()

    def url(self, path: str) -> str:
        return f"{self._scheme}://127.0.0.1:{self._httpd.server_address[1]}{path}"

    @staticmethod
    def etag(body: bytes) -> str:
        return '"' + hashlib.sha256(body).hexdigest()[:16] + '"'

    def _range_start(self, headers, body: bytes) -> int:
        asked = headers.get("Range", "")
        if asked:
            self.ranges.append(asked)
        condition = headers.get("If-Range")
        if (not asked.startswith("bytes=") or not asked.endswith("-")
                or (condition and condition != self.etag(body))):
            return 0
        start = int(asked[6:-1])
        return start if start < len(body) else 0

    def _send(self, out, data: bytes):
        step = max(self.bytes_per_second // 10, 1) if self.bytes_per_second else len(data)
        for at in range(0, len(data), step or 1):
            try:
                out.write(data[at:at + step])
                out.flush()
            except OSError:
                return  # the client went away (or was killed)
            self.bytes_sent += len(data[at:at + step])
            if self.bytes_per_second:
                time.sleep(0.1)

    def add(self, path: str, body: bytes):
        self.documents[path] = body

    def hold(self, path: str):
        self._held[path] = threading.Event()

    def release(self, path: str):
        gate = self._held.pop(path, None)
        if gate is not None:
            gate.set()

    def close(self):
        for gate in self._held.values():
            gate.set()
        self._httpd.shutdown()
        self._httpd.server_close()


def application_manifest(version, components, main_url=None, size_limit=None):
    """An application manifest: `components` is a list of (url, destination, limit or None)."""
    parts = [f"<version>{version}</version>", f"<componentes>{len(components)}</componentes>"]
    if size_limit is not None:
        parts.append(f"<tamfichero>{size_limit}</tamfichero>")
    for number, (url, destination, limit) in enumerate(components, start=1):
        parts.append(f"<urlcomp{number}>{url}</urlcomp{number}>")
        parts.append(f"<destcomp{number}>{destination}</destcomp{number}>")
        if limit is not None:
            parts.append(f"<tamcomp{number}>{limit}</tamcomp{number}>")
    if main_url is not None:
        parts.append(f"<urldescarga>{main_url}</urldescarga>")
    return ('<?xml version="1.0" encoding="ISO-8859-1"?><actualizacion>'
            + "".join(parts) + "</actualizacion>").encode("latin-1")


APP_KEY = "Software\\MUBAX_Pirvel"
LOG_KEY = "Software\\MubAX"


def serve_application_release(server, version, components, new_main, document_path, main_path):
    """Serves an application manifest at /manifest.xml offering `components` (destination name to
    bytes, in order) and `new_main`, each file document with the least limit that admits it.
    Component N's document is served at `document_path.format(number=N)`."""
    entries = []
    for number, (name, data) in enumerate(components.items(), start=1):
        path = document_path.format(number=number)
        server.add(path, hex_document(data))
        entries.append((server.url(path), name, len(data) + 1))
    server.add(main_path, hex_document(new_main))
    server.add("/manifest.xml", application_manifest(
        version, entries, server.url(main_path), size_limit=len(new_main) + 1))


def register_application(box, main_executable, manifest_url, installed_version):
    """The settings an installed main application leaves, with the log's level at 0."""
    box.set_setting(APP_KEY, "path", box.native_path(main_executable))
    box.set_setting(APP_KEY, "urlact", manifest_url)
    box.set_setting(APP_KEY, "version", installed_version)
    box.set_setting(LOG_KEY, "NivelLog", "0")

class LinuxSandbox:
    """Settings in a private XDG_CONFIG_HOME, the lock in a private XDG_RUNTIME_DIR."""

    target = "linux"

    def __init__(self, root=None):
        self.root = root or tempfile.mkdtemp(prefix="mubax-sandbox.")
        self.config_dir = os.path.join(self.root, "config")
        self.runtime_dir = os.path.join(self.root, "runtime")
        self.app_dir = os.path.join(self.root, "app")
        for directory in (self.config_dir, self.runtime_dir, self.app_dir):
            os.makedirs(directory, exist_ok=True)
        self._settings = {}

    def native_path(self, path: str) -> str:
        return path

    def set_setting(self, key: str, name: str, value: str):
        self._settings.setdefault(key, {})[name] = value
        store = os.path.join(self.config_dir, "mubax", "registry.ini")
        os.makedirs(os.path.dirname(store), exist_ok=True)
        with open(store, "w", encoding="utf-8") as out:
            for section, values in self._settings.items():
                out.write(f"[{section}]\n")
                for value_name, text in values.items():
                    out.write(f"{value_name}={text}\n")

    def env(self, extra=None):
        env = dict(os.environ)
        env["XDG_CONFIG_HOME"] = self.config_dir
        env["XDG_RUNTIME_DIR"] = self.runtime_dir
        env.update(extra or {})
        return env

    def lock_file(self) -> str:
        return os.path.join(self.runtime_dir, "MUB-AX Pirvel.lock")

    def command(self, binary):
        return [binary]

    def cleanup(self):
        shutil.rmtree(self.root, ignore_errors=True)


class WineSandbox(LinuxSandbox):
    """Settings in the registry of the current WINEPREFIX (HKEY_CURRENT_USER)."""

    target = "windows"

    def native_path(self, path: str) -> str:
        return "Z:" + path.replace("/", "\\")

    def set_setting(self, key: str, name: str, value: str):
        command = ["wine", "reg", "add", "HKCU\\" + key, "/v", name, "/t", "REG_SZ",
                   "/d", value, "/f"]
        # Wine now and then fails to start a program while its server comes or goes: retry.
        for attempt in range(3):
            done = subprocess.run(command, capture_output=True)
            if done.returncode == 0:
                return
            time.sleep(1.0 + attempt)
        raise RuntimeError(f"wine reg add failed: {done.stdout!r} {done.stderr!r}")

    def clear_settings(self):
        for key in (APP_KEY, LOG_KEY):
            subprocess.run(["wine", "reg", "delete", "HKCU\\" + key, "/f"], capture_output=True)

    def command(self, binary):
        return ["wine", binary]

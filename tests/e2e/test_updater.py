"""End-to-end tests of the built updater, driven as a shop PC would run it: settings in the
registry (Wine) or the settings store (Linux), a loopback server, a real application directory,
and a stand-in main application that records its start."""

import os
import pty
import re
import shutil
import subprocess
import time

import pytest

from conftest import TARGET, program, updater_env, wait_for
import sandbox
from sandbox import APP_KEY

LINE = re.compile(rb"\[\d\d/\d\d/\d{4} - \d\d:\d\d:\d\d\] id-0\d{5} - MubaxVardeno\.(.*) \r\r\n")


def main_executable(box):
    return os.path.join(box.app_dir, "pos" + (".exe" if TARGET == "windows" else ""))


def install_main_application(box):
    """Puts the stand-in main application where "path" says it is."""
    shutil.copyfile(program("fake_main_app"), main_executable(box))
    os.chmod(main_executable(box), 0o755)
    box.set_setting(APP_KEY, "path", box.native_path(main_executable(box)))


def run_updater(box, timeout=180, **kwargs):
    return subprocess.run(box.command(program("mubax-updater")), env=updater_env(box),
                          timeout=timeout, **kwargs)


def log_lines(box):
    with open(os.path.join(box.app_dir, "logUpdate.txt"), "rb") as log:
        data = log.read()
    lines = LINE.findall(data)
    assert sum(len(line) + 53 for line in lines) == len(data), data
    return [line.decode("cp1252") for line in lines]


def started(box, seconds=20.0):
    return wait_for(lambda: os.path.exists(box.started_file), seconds)


def publish_typical_update(box, server):
    """Version 1.0 installed, 1.1 offered: two components and a new main executable."""
    with open(program("fake_main_app"), "rb") as exe:
        new_main = exe.read()
    components = {"uno.dll": os.urandom(3000), "dos.dat": bytes(range(256)) * 8}
    sandbox.serve_application_release(server, "1.1", components, new_main, "/c{number}.xml",
                                      "/main.xml")
    with open(main_executable(box), "wb") as old:
        old.write(b"old main application")
    sandbox.register_application(box, main_executable(box), server.url("/manifest.xml"), "1.0")
    return components, new_main


def test_typical_run_installs_logs_and_starts(box, server):
    components, new_main = publish_typical_update(box, server)
    open(os.path.join(box.app_dir, "logUpdate.txt"), "wb").close()
    run_updater(box)

    for name, data in components.items():
        with open(os.path.join(box.app_dir, name), "rb") as installed:
            assert installed.read() == data, name
    with open(main_executable(box), "rb") as installed:
        assert installed.read() == new_main
    assert started(box)
    app = box.native_path(box.app_dir) + ("\\" if TARGET == "windows" else "/")
    assert log_lines(box) == [
        "ActualizandoVersion desde  " + server.url("/manifest.xml"),
        "ActualizaVersionAplicacion Actualizando version modo APLICACION",
        "Versi\u00f3n App 1.0",
        "Versi\u00f3n Disponible 1.1",
        f"Fichero actualizado URL Act [{server.url('/c1.xml')}] Fich Dest [{app}uno.dll] 1",
        f"Fichero actualizado URL Act [{server.url('/c2.xml')}] Fich Dest [{app}dos.dat] 1",
        "Actualizando AppPrincipal cUrl " + server.url("/main.xml"),
        f"AppPrincipal actualizada URL Act [{server.url('/main.xml')}] Fich Dest [path app] 1",
        "Actualizando()  IniAppUsuario",
    ]
    assert server.requests == ["/manifest.xml", "/c1.xml", "/c2.xml", "/main.xml"]


def test_unreachable_manifest_still_starts_main_application(box, server):
    install_main_application(box)
    box.set_setting(APP_KEY, "urlact", server.url("/missing.xml"))
    open(os.path.join(box.app_dir, "logUpdate.txt"), "wb").close()
    before = sorted(os.listdir(box.app_dir))
    begun = time.monotonic()
    run_updater(box)
    # Half a second before the run, then the product's own one-second wait before the launch.
    assert time.monotonic() - begun >= 1.45
    assert started(box)
    assert sorted(os.listdir(box.app_dir)) == before
    assert log_lines(box) == [
        "ActualizandoVersion desde  " + server.url("/missing.xml"),
        "Error al recuperar informaci\u00f3n desde  " + server.url("/missing.xml"),
        "Actualizando()  IniAppUsuario",
    ]


def test_without_marker_no_log_is_written_anywhere(box, server):
    publish_typical_update(box, server)
    run_updater(box)
    assert started(box)
    assert not os.path.exists(os.path.join(box.app_dir, "logUpdate.txt"))
    if TARGET == "windows":
        default_log = os.path.join(os.environ["WINEPREFIX"], "drive_c", "windows",
                                   "AxMubaxPinPadWS.log")
    else:
        default_log = os.path.join(box.config_dir, "mubax", "AxMubaxPinPadWS.log")
    assert not os.path.exists(default_log)


def test_running_main_application_is_not_started_again(box, server):
    install_main_application(box)
    box.set_setting(APP_KEY, "urlact", server.url("/missing.xml"))
    holder = subprocess.Popen(box.command(program("hold_main_app_lock")), env=updater_env(box),
                              stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    try:
        assert holder.stdout.readline().strip() == b"held"
        run_updater(box)
        assert not started(box, seconds=2.0)
    finally:
        holder.stdin.close()
        holder.wait(30)


def test_second_run_waits_for_the_first_then_skips_the_update_and_launches(box, server):
    publish_typical_update(box, server)
    install_main_application(box)
    open(os.path.join(box.app_dir, "logUpdate.txt"), "wb").close()
    first = subprocess.Popen(box.command(program("hold_run_lock")), env=updater_env(box),
                             stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    try:
        assert first.stdout.readline().strip() == b"held"
        second = subprocess.Popen(box.command(program("mubax-updater")), env=updater_env(box))
        time.sleep(2.0)
        assert second.poll() is None  # still waiting for the first run
    finally:
        first.stdin.close()
        first.wait(30)
    second.wait(60)
    assert server.requests == []
    assert log_lines(box) == [
        "ActualizandoVersion  Otra actualizaci\u00f3n en curso. No se actualiza",
        "Actualizando()  IniAppUsuario",
    ]
    assert started(box)


def window_id(display):
    found = subprocess.run(["xdotool", "search", "--name", "Updating MUB-AX"],
                           env={**os.environ, "DISPLAY": display}, capture_output=True, text=True)
    ids = found.stdout.split()
    return ids[0] if ids else None


def test_escape_before_first_tick_starts_without_updating(box, server):
    install_main_application(box)
    box.set_setting(APP_KEY, "urlact", server.url("/manifest.xml"))
    server.add("/manifest.xml", sandbox.application_manifest("9", []))
    if TARGET == "windows":
        updater = subprocess.Popen(box.command(program("mubax-updater")), env=updater_env(box))
        assert wait_for(lambda: window_id(box.display) is not None, 60)
        subprocess.run(["xdotool", "key", "--window", window_id(box.display), "Escape"],
                       env={**os.environ, "DISPLAY": box.display}, check=True)
        updater.wait(60)
    else:
        leader, follower = pty.openpty()
        updater = subprocess.Popen(box.command(program("mubax-updater")), env=updater_env(box),
                                   stdin=follower)
        time.sleep(0.15)
        os.write(leader, b"\x1b")
        updater.wait(60)
        os.close(leader)
        os.close(follower)
    assert started(box)
    assert server.requests == []


def test_enter_restarts_the_wait_before_the_first_tick(box, server):
    install_main_application(box)
    box.set_setting(APP_KEY, "urlact", server.url("/missing.xml"))
    leader = follower = None
    if TARGET == "windows":
        updater = subprocess.Popen(box.command(program("mubax-updater")), env=updater_env(box))
        assert wait_for(lambda: window_id(box.display) is not None, 60)
        window = window_id(box.display)

        def press_enter():
            subprocess.run(["xdotool", "key", "--window", window, "Return"],
                           env={**os.environ, "DISPLAY": box.display}, check=True)
    else:
        leader, follower = pty.openpty()
        updater = subprocess.Popen(box.command(program("mubax-updater")), env=updater_env(box),
                                   stdin=follower)
        time.sleep(0.15)

        def press_enter():
            os.write(leader, b"\r")
    # Each press within half a second of the last keeps the update from starting.
    for _ in range(8):
        press_enter()
        time.sleep(0.3)
    assert server.requests == []
    updater.wait(60)
    for descriptor in (leader, follower):
        if descriptor is not None:
            os.close(descriptor)
    assert server.requests == ["/missing.xml"]
    assert started(box)


def test_progress_is_shown_while_a_file_is_held_back(box, server, tmp_path):
    publish_typical_update(box, server)
    server.hold("/c2.xml")
    if TARGET == "windows":
        updater = subprocess.Popen(box.command(program("mubax-updater")), env=updater_env(box))
        assert wait_for(lambda: "/c2.xml" in server.requests, 60)
        time.sleep(0.5)
        display_env = {**os.environ, "DISPLAY": box.display}
        name = subprocess.run(["xdotool", "getwindowname", window_id(box.display)],
                              env=display_env, capture_output=True, text=True).stdout.strip()
        shot = tmp_path / "shot.rgb"
        subprocess.run(f"xwd -root -silent -display {box.display} | /usr/bin/convert xwd:- "
                       f"-depth 8 rgb:{shot}", shell=True, check=True)
        server.release("/c2.xml")
        updater.wait(120)
        assert name == "Updating MUB-AX ..."
        pixels = shot.read_bytes()
        # One of three components done: the bar's fill colour covers part of the window.
        filled = sum(1 for i in range(0, len(pixels), 3)
                     if pixels[i + 2] > 120 and pixels[i + 2] > pixels[i] + 60)
        assert filled > 200
    else:
        leader, follower = pty.openpty()
        updater = subprocess.Popen(box.command(program("mubax-updater")), env=updater_env(box),
                                   stderr=follower)
        assert wait_for(lambda: "/c2.xml" in server.requests, 60)
        server.release("/c2.xml")
        updater.wait(120)
        os.close(follower)
        output = b""
        while True:
            try:
                chunk = os.read(leader, 4096)
            except OSError:
                break
            if not chunk:
                break
            output += chunk
        os.close(leader)
        assert b"Updating MUB-AX ... [" in output
        assert b"] 1/3" in output and b"] 3/3" in output
    assert started(box)


@pytest.mark.skipif(TARGET != "linux", reason="file-size limits are a POSIX resource limit")
def test_file_size_limit_fails_the_install_but_not_the_run(box, server):
    import resource
    install_main_application(box)
    with open(main_executable(box), "rb") as exe:
        main_bytes = exe.read()
    uno = os.path.join(box.app_dir, "uno.dll")
    with open(uno, "wb") as old:
        old.write(b"old component")
    sandbox.serve_application_release(server, "1.1", {"uno.dll": os.urandom(3000)}, main_bytes,
                                      "/c{number}.xml", "/main.xml")
    sandbox.register_application(box, main_executable(box), server.url("/manifest.xml"), "1.0")
    before = sorted(os.listdir(box.app_dir))
    limit = 1024  # below every file of the release, above the stand-in's start record

    def limit_file_size():
        resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))

    result = run_updater(box, preexec_fn=limit_file_size)
    assert result.returncode == 0, "the updater ended by a signal"
    assert started(box)
    with open(uno, "rb") as kept:
        assert kept.read() == b"old component"
    with open(main_executable(box), "rb") as kept:
        assert kept.read() == main_bytes
    assert sorted(os.listdir(box.app_dir)) == before, "a temporary file was left behind"


def test_untrusted_certificate_is_refused_and_main_application_started(box, tmp_path):
    """A server whose certificate no trusted authority signed is never believed: with certificate
    checks switched off, this release would install."""
    cert, key = str(tmp_path / "cert.pem"), str(tmp_path / "key.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1",
                    "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1",
                    "-keyout", key, "-out", cert], check=True, capture_output=True)
    server = sandbox.LoopbackServer(tls=(cert, key))
    try:
        components, _ = publish_typical_update(box, server)
        install_main_application(box)  # the old version, runnable, so its start can be seen
        with open(main_executable(box), "rb") as old:
            old_main = old.read()
        open(os.path.join(box.app_dir, "logUpdate.txt"), "wb").close()
        run_updater(box)
        assert started(box)
        for name in components:
            assert not os.path.exists(os.path.join(box.app_dir, name)), name
        with open(main_executable(box), "rb") as kept:
            assert kept.read() == old_main
        assert server.requests == []
        assert log_lines(box) == [
            "ActualizandoVersion desde  " + server.url("/manifest.xml"),
            "Error al recuperar informaci\u00f3n desde  " + server.url("/manifest.xml"),
            "Actualizando()  IniAppUsuario",
        ]
    finally:
        server.close()


def publish_slow_release(box, server, component_bytes):
    """Version 1.0 installed, 1.1 offered: two components of `component_bytes` and a new main
    executable. Returns the new files by name, the old ones written in place."""
    with open(program("fake_main_app"), "rb") as exe:
        new_main = exe.read()
    components = {"uno.dll": os.urandom(component_bytes), "dos.dat": os.urandom(component_bytes)}
    sandbox.serve_application_release(server, "1.1", components, new_main, "/c{number}.xml",
                                      "/main.xml")
    for name in components:
        with open(os.path.join(box.app_dir, name), "wb") as old:
            old.write(b"old " + name.encode())
    with open(main_executable(box), "wb") as old:
        old.write(b"old main application")
    sandbox.register_application(box, main_executable(box), server.url("/manifest.xml"), "1.0")
    return dict(components, **{os.path.basename(main_executable(box)): new_main})


def release_state(box, files):
    """"old", "new" or "mixed": what the application directory holds of the release."""
    new = 0
    for name, data in files.items():
        with open(os.path.join(box.app_dir, name), "rb") as installed:
            new += installed.read() == data
    return "old" if new == 0 else "new" if new == len(files) else "mixed"


def document_bytes(server):
    return sum(len(body) for path, body in server.documents.items() if path != "/manifest.xml")


def test_killed_while_staging_the_next_start_takes_the_download_up(box, server):
    """kill -9 at any moment of the download leaves the old release whole; the next start fetches
    only what is missing and installs the whole new release."""
    files = publish_slow_release(box, server, 150000)
    server.bytes_per_second = 100000
    record = os.path.join(box.app_dir, ".mubax-staging", "record.txt")

    def part_recorded(number):
        """Document `number` recorded as partly on the disk."""
        try:
            with open(record, encoding="utf-8") as text:
                lines = [line.split("\t") for line in text if line.startswith("doc\t")]
        except OSError:
            return False
        return len(lines) >= number and lines[number - 1][1] == "0" and lines[number - 1][2] != "0"

    for number in (1, 2):  # kill -9 inside the first component's document, then the second's
        updater = subprocess.Popen(box.command(program("mubax-updater")), env=updater_env(box))
        assert wait_for(lambda: part_recorded(number), 60)
        updater.kill()
        updater.wait(30)
        assert release_state(box, files) == "old"
    server.bytes_per_second = 0
    run_updater(box)
    assert release_state(box, files) == "new"
    assert started(box)
    assert not os.path.exists(os.path.join(box.app_dir, ".mubax-staging"))
    assert any(asked.startswith("bytes=") for asked in server.ranges), server.ranges
    leftovers = [n for n in os.listdir(box.app_dir) if ".mubax-new." in n]
    assert leftovers == []


def test_slow_line_release_arrives_whole_within_three_starts(box, server):
    """4.9 MB of documents at 24 KB/s (about 200 s of line time, the run's budget 100 s): every
    start holds the till less than two minutes, leaves the old release or the new one whole, and
    the line carries about one copy of the documents."""
    open(os.path.join(box.app_dir, "logUpdate.txt"), "wb").close()
    files = publish_slow_release(box, server, 1200000)
    server.bytes_per_second = 24 * 1024
    starts = 0
    while release_state(box, files) != "new" and starts < 3:
        begun = time.monotonic()
        run_updater(box)
        starts += 1
        held = time.monotonic() - begun
        print(f"start {starts}: {held:.1f} s, {server.bytes_sent} bytes sent so far")
        assert held < 120
        state = release_state(box, files)
        assert state in ("old", "new")
        assert os.path.isdir(os.path.join(box.app_dir, ".mubax-staging")) == (state == "old")
    assert release_state(box, files) == "new"
    print(f"documents {document_bytes(server)} bytes, sent {server.bytes_sent} bytes")
    assert server.bytes_sent <= 1.1 * document_bytes(server)
    deferred = "ActualizandoVersion  Descarga incompleta. Se contin\u00faa en el pr\u00f3ximo arranque"
    assert log_lines(box).count(deferred) == starts - 1


def test_killed_while_installing_the_next_start_installs_from_the_stage(box, server):
    """kill -9 once every document is staged (the install under way): the next start installs
    the whole release from what was staged, without fetching a document again."""
    files = publish_slow_release(box, server, 4000000)
    record = os.path.join(box.app_dir, ".mubax-staging", "record.txt")

    def all_staged():
        try:
            with open(record, encoding="utf-8") as text:
                lines = [line.split("\t") for line in text if line.startswith("doc\t")]
        except OSError:
            return False
        return len(lines) == 3 and all(fields[1] == "1" for fields in lines)

    updater = subprocess.Popen(box.command(program("mubax-updater")), env=updater_env(box))
    assert wait_for(all_staged, 60)
    updater.kill()
    updater.wait(30)
    killed_in_install = os.path.exists(record)
    run_updater(box)
    assert release_state(box, files) == "new"
    assert not os.path.exists(os.path.join(box.app_dir, ".mubax-staging"))
    assert [n for n in os.listdir(box.app_dir) if ".mubax-new." in n] == []
    documents = [path for path in server.requests if path != "/manifest.xml"]
    assert len(documents) == (3 if killed_in_install else 6), server.requests

"""The main job, end to end: serve a sample update over loopback, run the real updater against a
sandboxed settings store and application directory, and show what it did."""

import argparse
import os
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import sandbox  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def say(text):
    print(f"\033[1m{text}\033[0m" if sys.stdout.isatty() else text, flush=True)


def prepare(box, server, new_main: bytes, separator: str):
    components = {
        "tarifas.dat": b"TARIFAS 2.0\r\n" + bytes(range(256)) * 16,
        "recibo.dll": b"MZ" + os.urandom(20000),
    }
    sandbox.serve_application_release(server, "2.0", components, new_main,
                                      "/files/comp{number}.xml", "/files/pos.xml")
    main_path = os.path.join(box.app_dir, "pos" + (".exe" if box.target == "windows" else ""))
    with open(main_path, "wb") as old:
        old.write(b"#!/bin/sh\necho 'old POS 1.0'\n" if box.target == "linux" else b"old POS 1.0")
    os.chmod(main_path, 0o755)
    open(os.path.join(box.app_dir, "logUpdate.txt"), "wb").close()  # turns the log on

    sandbox.register_application(box, main_path, server.url("/manifest.xml"), "1.0")
    return components, main_path


def show(box, components, main_path, new_main, started_file, server):
    say("\nRequests the updater made:")
    for path in server.requests:
        print("  GET", path)
    say("\nFiles in the application directory:")
    for name, data in list(components.items()) + [(os.path.basename(main_path), new_main)]:
        path = os.path.join(box.app_dir, name)
        with open(path, "rb") as installed:
            same = installed.read() == data
        print(f"  {name:14} {os.path.getsize(path):7} bytes  "
              f"{'installed, identical to the release' if same else 'NOT the released bytes'}")
    say("\nlogUpdate.txt (lines end with CR CR LF):")
    with open(os.path.join(box.app_dir, "logUpdate.txt"), "rb") as log:
        for line in log.read().split(b"\r\r\n"):
            if line:
                print("  " + line.decode("cp1252"))
    say("\nMain application:")
    deadline = time.time() + 10
    while time.time() < deadline and not os.path.exists(started_file):
        time.sleep(0.1)
    if os.path.exists(started_file):
        with open(started_file, encoding="utf-8", errors="replace") as started:
            print("  started: " + started.read().strip())
        return True
    print("  NOT started")
    return False


def read_held(box):
    """The version the updater holds back, as the settings store (or registry) has it."""
    if box.target == "windows":
        query = subprocess.run(["wine", "reg", "query", "HKCU\\" + sandbox.APP_KEY, "/v",
                                "versionRetenida"], capture_output=True, text=True)
        held = [line.split("REG_SZ")[-1].strip() for line in query.stdout.splitlines()
                if "versionRetenida" in line]
        return held[0] if held else None
    store = os.path.join(box.config_dir, "mubax", "registry.ini")
    with open(store, encoding="utf-8") as text:
        held = [line.split("=", 1)[1].strip() for line in text if line.startswith("versionRetenida")]
    return held[0] if held else None


def run_broken(box, server, binary, env, broken_main, old_main):
    """Publishes a release whose main application exits at once, with the first-start watch on, and
    shows the previous version coming back and the release held."""
    components, main_path = prepare(box, server, broken_main, os.sep)
    with open(main_path, "wb") as old:
        old.write(old_main)
    os.chmod(main_path, 0o755)
    before = {name: open(os.path.join(box.app_dir, name), "rb").read()
              for name in os.listdir(box.app_dir) if name != "logUpdate.txt"}
    box.set_setting(sandbox.APP_KEY, "vigilarArranque", "5")
    say(f"Sandbox: {box.root}\nvigilarArranque=5; release 2.0 carries a main application that "
        f"exits at once.\nRunning {binary} ...")
    subprocess.run(box.command(binary), env=env, check=True, timeout=120)
    say("\nApplication directory after the run:")
    names = sorted(os.listdir(box.app_dir))
    for name in names:
        path = os.path.join(box.app_dir, name)
        if name in before:
            same = open(path, "rb").read() == before[name]
            print(f"  {name:14} {'the previous version, byte for byte' if same else 'CHANGED'}")
        elif name != "logUpdate.txt":
            print(f"  {name:14} left behind by the release (should be gone)")
    for name in components:
        if name not in names:
            print(f"  {name:14} added by the release, removed again")
    say("\nlogUpdate.txt:")
    with open(os.path.join(box.app_dir, "logUpdate.txt"), "rb") as log:
        for line in log.read().split(b"\r\r\n"):
            if line:
                print("  " + line.decode("cp1252"))
    held = read_held(box)
    say(f"\nHeld version (versionRetenida): {held}")
    server.requests.clear()
    subprocess.run(box.command(binary), env=env, check=True, timeout=120)
    say(f"Requests of a second run with the same manifest: {server.requests}")
    restored = all(open(os.path.join(box.app_dir, name), "rb").read() == data
                   for name, data in before.items())
    return restored and held == "2.0" and server.requests == ["/manifest.xml"]


def run_linux(binary, broken=False):
    box, server = sandbox.LinuxSandbox(), sandbox.LoopbackServer()
    started_file = os.path.join(box.root, "started.txt")
    if broken:
        try:
            return run_broken(box, server, binary, box.env(),
                              b"#!/bin/sh\necho 'POS 2.0: missing library' >&2\nexit 1\n",
                              b"#!/bin/sh\necho \"old POS 1.0 started again ($(date +%T))\"\n")
        finally:
            server.close()
            box.cleanup()
    new_main = (b"#!/bin/sh\necho \"POS 2.0 started by the updater ($(date +%T))\" >> '"
                + started_file.encode() + b"'\n")
    try:
        components, main_path = prepare(box, server, new_main, "/")
        say(f"Sandbox: {box.root}\nRunning {binary} ...")
        subprocess.run(box.command(binary), env=box.env(), check=True, timeout=120)
        return show(box, components, main_path, new_main, started_file, server)
    finally:
        server.close()
        box.cleanup()


def run_windows(binary, screenshot, broken=False):
    box, server = sandbox.WineSandbox(), sandbox.LoopbackServer()
    started_file = os.path.join(box.root, "started.txt")
    with open(os.path.join(ROOT, "build", "windows", "bin", "fake_main_app.exe"), "rb") as exe:
        new_main = exe.read()
    if broken:
        # The stand-in records its start and exits at once, never taking the mutex: a release
        # that does not start. The previous version is the same program, one byte apart.
        env = box.env({"DISPLAY": os.environ["DISPLAY"],
                       "MUBAX_TEST_STARTED_FILE": box.native_path(started_file)})
        try:
            return run_broken(box, server, binary, env, new_main + b"2.0", new_main + b"1.0")
        finally:
            box.clear_settings()
            server.close()
            box.cleanup()
    # The virtual display the Wine session was started with (scripts/wine-env.sh).
    display = os.environ["DISPLAY"]
    try:
        components, main_path = prepare(box, server, new_main, "\\")
        server.hold("/files/comp2.xml")  # keeps the window on screen for the screenshot
        env = box.env({"DISPLAY": display,
                       "MUBAX_TEST_STARTED_FILE": box.native_path(started_file)})
        say(f"Sandbox: {box.root} (WINEPREFIX {os.environ.get('WINEPREFIX')})\n"
            f"Running wine {binary} on display {display} ...")
        updater = subprocess.Popen(box.command(binary), env=env)
        deadline = time.time() + 60
        while "/files/comp2.xml" not in server.requests and time.time() < deadline:
            time.sleep(0.1)
        time.sleep(0.5)
        shot = subprocess.run(f"xwd -root -silent -display {display} | /usr/bin/convert xwd:- "
                              f"'{screenshot}'", shell=True)
        if shot.returncode == 0:
            say(f"Screenshot of the window mid-update: {screenshot}")
        server.release("/files/comp2.xml")
        updater.wait(timeout=120)
        return show(box, components, main_path, new_main, started_file, server)
    finally:
        server.close()
        box.cleanup()


def signed_run(bin_dir, box_class, env_extra, tamper):
    """Publishes a signed release with a throw-away key, runs an updater that trusts the key (a key
    file beside a copy of it) and returns (installed?, the log's lines)."""
    exe = ".exe" if box_class.target == "windows" else ""
    box, server = box_class(), sandbox.LoopbackServer()
    try:
        publish = box.command(os.path.join(bin_dir, "mubax-publish" + exe))
        work = os.path.join(box.root, "work")
        os.makedirs(work)
        key = os.path.join(work, "demo-release.key")
        subprocess.run(publish + ["keygen", "--out", box.native_path(key)], env=box.env(),
                       check=True, stdout=subprocess.DEVNULL)
        source = os.path.join(work, "tarifas.dat")
        with open(source, "wb") as out:
            out.write(b"TARIFAS 3.0\r\n" + bytes(range(256)) * 8)
        release = os.path.join(work, "release")
        subprocess.run(publish + ["library", "--version", "3.0", "--base-url", server.url("/rel"),
                                  "--out", box.native_path(release), "--library",
                                  box.native_path(source) + "=" +
                                  box.native_path(os.path.join(box.app_dir, "tarifas.dat")),
                                  "--sign-key", box.native_path(key), "--expires", "1d"],
                       env=box.env(), check=True, stdout=subprocess.DEVNULL)
        if tamper:
            document = os.path.join(release, "library-tarifas.dat.xml")
            with open(document, "rb") as original:
                data = bytearray(original.read())
            at = data.index(b"<fichero>") + 12
            data[at] = ord("0") if data[at] != ord("0") else ord("1")
            with open(document, "wb") as out:
                out.write(bytes(data))
        for name in os.listdir(release):
            with open(os.path.join(release, name), "rb") as document:
                server.add("/rel/" + name, document.read())
        updater_dir = os.path.join(box.root, "bin")
        os.makedirs(updater_dir)
        updater = os.path.join(updater_dir, "mubax-updater" + exe)
        shutil.copyfile(os.path.join(bin_dir, "mubax-updater" + exe), updater)
        os.chmod(updater, 0o755)
        shutil.copyfile(key + ".pub", os.path.join(updater_dir, "mubax-release-keys.txt"))
        main_path = os.path.join(box.app_dir, "pos" + exe)
        with open(main_path, "wb") as old:
            old.write(b"#!/bin/sh\n" if exe == "" else b"old POS")
        os.chmod(main_path, 0o755)
        open(os.path.join(box.app_dir, "logUpdate.txt"), "wb").close()
        sandbox.register_application(box, main_path, server.url("/rel/manifest.xml"), "2.0")
        subprocess.run(box.command(updater), env=box.env(env_extra), check=True, timeout=120)
        installed = os.path.exists(os.path.join(box.app_dir, "tarifas.dat"))
        with open(os.path.join(box.app_dir, "logUpdate.txt"), "rb") as log:
            lines = [line.decode("cp1252") for line in log.read().split(b"\r\r\n") if line]
        return installed, lines
    finally:
        server.close()
        box.cleanup()


def show_signed(bin_dir, box_class, env_extra):
    say("\nSigned release (throw-away key made just now, trusted through a key file beside the "
        "updater):")
    installed, lines = signed_run(bin_dir, box_class, env_extra, tamper=False)
    print(f"  signed release: {'installed' if installed else 'NOT installed'}")
    say("Same release with one digit of its file document changed on the way:")
    refused_installed, refused_lines = signed_run(bin_dir, box_class, env_extra, tamper=True)
    print(f"  tampered release: {'INSTALLED' if refused_installed else 'nothing installed'}")
    for line in refused_lines:
        if "rechazado" in line or "IniAppUsuario" in line:
            print("  " + line)
    return installed and not refused_installed


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--windows", action="store_true",
                        help="run the Windows build under Wine in a virtual display")
    parser.add_argument("--broken", action="store_true",
                        help="publish a main application that does not start, with the start "
                             "watch on, and show the previous version coming back")
    parser.add_argument("--screenshot", default=os.path.join(ROOT, "build", "demo-window.png"))
    args = parser.parse_args()
    if args.windows:
        ok = run_windows(os.path.join(ROOT, "build", "windows-release", "bin", "mubax-updater.exe"),
                         args.screenshot, args.broken)
        if not args.broken:
            ok = show_signed(os.path.join(ROOT, "build", "windows", "bin"), sandbox.WineSandbox,
                             {"DISPLAY": os.environ["DISPLAY"]}) and ok
    else:
        ok = run_linux(os.path.join(ROOT, "build", "linux-release", "bin", "mubax-updater"),
                       args.broken)
        if not args.broken:
            ok = show_signed(os.path.join(ROOT, "build", "linux-release", "bin"),
                             sandbox.LinuxSandbox, {}) and ok
    if args.broken:
        say("\nDone: the broken release was reverted and is held." if ok
            else "\nThe revert demo did not complete.")
    else:
        say("\nDone: the update was installed and the main application started." if ok
            else "\nThe demo did not complete.")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())

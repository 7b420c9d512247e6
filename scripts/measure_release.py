"""Measures the release programs as the README reports them: the size of each shipped program
(from the packages scripts/package.sh made) and the start-up time to the first thing the till's
user sees: the first progress line of the Linux updater on a terminal, the window of the Windows
updater (under Wine, in the virtual display of scripts/wine-env.sh). Run through
scripts/measure-release.sh, which sets up the Wine session."""

import glob
import os
import pty
import select
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import sandbox  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PACKAGES = os.path.join(ROOT, "build", "packages")
RUNS = 15
WINDOW_TITLE = "Updating MUB-AX"


def shipped_programs(scratch):
    """The programs as the packages carry them (stripped; signed on Windows, when signed)."""
    deb = glob.glob(os.path.join(PACKAGES, "mubax-updater_*_amd64.deb"))[0]
    archive = glob.glob(os.path.join(PACKAGES, "mubax-updater-*-win64.zip"))[0]
    subprocess.run(["dpkg-deb", "-x", deb, os.path.join(scratch, "deb")], check=True)
    with zipfile.ZipFile(archive) as unzip:
        unzip.extractall(os.path.join(scratch, "zip"))
    linux = os.path.join(scratch, "deb", "usr", "bin")
    windows = glob.glob(os.path.join(scratch, "zip", "*", "bin"))[0]
    return linux, windows


def offer_update(box, server, main_path):
    """Version 1.0 installed, 1.1 offered with one small component. The updater never writes
    its settings, so every run finds the same update: progress is shown only while a mode runs."""
    server.add("/c1.xml", sandbox.hex_document(b"component 1.1\r\n" * 64))
    server.add("/manifest.xml",
               sandbox.application_manifest("1.1", [(server.url("/c1.xml"), "uno.dat", None)]))
    sandbox.register_application(box, main_path, server.url("/manifest.xml"), "1.0")


def linux_first_line(binary):
    """Seconds from start to the first byte the updater writes to a terminal."""
    box, server = sandbox.LinuxSandbox(), sandbox.LoopbackServer()
    try:
        main_path = os.path.join(box.app_dir, "pos")
        with open(main_path, "w") as main:
            main.write("#!/bin/sh\nexit 0\n")
        os.chmod(main_path, 0o755)
        offer_update(box, server, main_path)
        times = []
        for _ in range(RUNS):
            controller, terminal = pty.openpty()
            start = time.perf_counter()
            process = subprocess.Popen([binary], env=box.env(), stdin=subprocess.DEVNULL,
                                       stdout=subprocess.DEVNULL, stderr=terminal)
            ready, _, _ = select.select([controller], [], [], 10)
            if ready:
                times.append(time.perf_counter() - start)
            process.wait(30)
            os.close(terminal)
            os.close(controller)
        return times
    finally:
        server.close()
        box.cleanup()


def command_time(command, env=None):
    times = []
    for _ in range(RUNS):
        start = time.perf_counter()
        subprocess.run(command, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       check=True, timeout=60)
        times.append(time.perf_counter() - start)
    return times


def window_shown(display):
    found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", WINDOW_TITLE],
                           env=dict(os.environ, DISPLAY=display), capture_output=True)
    return found.returncode == 0 and found.stdout.strip() != b""


def windows_first_window(exe, display):
    """Seconds from `wine mubax-updater.exe` to its window on the display."""
    box, server = sandbox.WineSandbox(), sandbox.LoopbackServer()
    try:
        box.clear_settings()
        offer_update(box, server, os.path.join(box.app_dir, "pos.exe"))
        times = []
        for _ in range(RUNS):
            start = time.perf_counter()
            process = subprocess.Popen(["wine", exe], env=box.env({"DISPLAY": display}))
            while not window_shown(display) and time.perf_counter() - start < 30:
                time.sleep(0.005)
            times.append(time.perf_counter() - start)
            process.wait(60)
            while window_shown(display):
                time.sleep(0.05)
        return times
    finally:
        box.clear_settings()
        server.close()
        box.cleanup()


def report(label, times):
    if not times:
        print(f"  {label}: never seen")
        return
    print(f"  {label}: median {statistics.median(times) * 1000:.0f} ms, "
          f"min {min(times) * 1000:.0f} ms, max {max(times) * 1000:.0f} ms ({len(times)} runs)")


def main():
    scratch = tempfile.mkdtemp(prefix="mubax-measure.")
    try:
        linux, windows = shipped_programs(scratch)
        print("Sizes of the shipped programs:")
        for directory, names in ((linux, ("mubax-updater", "mubax-publish")),
                                 (windows, ("mubax-updater.exe", "mubax-publish.exe"))):
            for name in names:
                print(f"  {name:18} {os.path.getsize(os.path.join(directory, name)):>9} bytes")
        print("Linux start-up:")
        report("mubax-updater --version, start to exit",
               command_time([os.path.join(linux, "mubax-updater"), "--version"]))
        report("mubax-updater, start to its first line on a terminal",
               linux_first_line(os.path.join(linux, "mubax-updater")))
        display = os.environ["DISPLAY"]
        print("Windows start-up (Wine 8, Xvfb):")
        report("wine mubax-publish.exe --version, start to exit (Wine's own start-up)",
               command_time(["wine", os.path.join(windows, "mubax-publish.exe"), "--version"]))
        report("wine mubax-updater.exe, start to its window shown",
               windows_first_window(os.path.join(windows, "mubax-updater.exe"), display))
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    main()

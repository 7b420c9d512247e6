"""Fixtures for driving the built updater: the target (linux or windows under Wine), a sandbox
with its own settings and application directory, a loopback server and a virtual display."""

import os
import subprocess
import sys
import time

import pytest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "scripts"))
import sandbox  # noqa: E402

TARGET = os.environ.get("MUBAX_TARGET", "linux")
BIN_DIR = os.environ.get("MUBAX_BIN_DIR", os.path.join(ROOT, "build", TARGET, "bin"))
EXE = ".exe" if TARGET == "windows" else ""


def program(name):
    return os.path.join(BIN_DIR, name + EXE)


@pytest.fixture(scope="session")
def display():
    """A virtual X display for the Windows window (Linux needs none)."""
    if TARGET != "windows":
        yield None
        return
    if os.environ.get("DISPLAY"):
        # The test script's display, which the Wine session was started with.
        yield os.environ["DISPLAY"]
        return
    number = 100 + os.getpid() % 50
    xvfb = subprocess.Popen(["Xvfb", f":{number}", "-screen", "0", "800x600x24", "-nolisten", "tcp"],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(1.0)
    yield f":{number}"
    xvfb.terminate()
    xvfb.wait(10)


@pytest.fixture(autouse=True)
def own_runtime_dir(tmp_path, monkeypatch):
    """Every test its own lock directory, whatever program it starts and however: a stale lock
    left by another run (or another user of the machine) can never decide a test."""
    runtime = tmp_path / "xdg-runtime"
    runtime.mkdir()
    monkeypatch.setenv("XDG_RUNTIME_DIR", str(runtime))


@pytest.fixture
def server():
    loopback = sandbox.LoopbackServer()
    yield loopback
    loopback.close()


@pytest.fixture
def box(display):
    sandbox_class = sandbox.WineSandbox if TARGET == "windows" else sandbox.LinuxSandbox
    created = sandbox_class()
    if TARGET == "windows":
        created.clear_settings()
    created.display = display
    created.started_file = os.path.join(created.root, "started.txt")
    yield created
    if TARGET == "windows":
        created.clear_settings()
    created.cleanup()


def updater_env(box, extra=None):
    env = box.env({"MUBAX_TEST_STARTED_FILE": box.native_path(box.started_file)})
    if box.display:
        env["DISPLAY"] = box.display
    env.update(extra or {})
    return env


def wait_for(predicate, seconds=20.0):
    deadline = time.time() + seconds
    while time.time() < deadline:
        if predicate():
            return True
        time.sleep(0.1)
    return predicate()

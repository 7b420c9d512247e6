"""The version the built programs carry is the project's: `--version` of the Linux updater and of
mubax-publish, and the version resource of the Windows updater. Asking the Linux updater for its
version runs no update; any other arguments leave it working as it always did."""

import os
import re
import struct
import subprocess

import pytest

from conftest import TARGET, program, updater_env
from test_updater import install_main_application, publish_typical_update, started

VERSION = os.environ.get("MUBAX_VERSION", "")
linux_only = pytest.mark.skipif(TARGET != "linux", reason="the Windows updater takes no arguments")
windows_only = pytest.mark.skipif(TARGET != "windows", reason="a Windows resource")


@pytest.fixture(autouse=True)
def project_version():
    assert re.fullmatch(r"\d+\.\d+\.\d+", VERSION), f"MUBAX_VERSION from CMake: {VERSION!r}"


def test_publish_prints_its_version(box):
    completed = subprocess.run(box.command(program("mubax-publish")) + ["--version"],
                               env=updater_env(box), capture_output=True, timeout=120)
    assert completed.returncode == 0, completed.stderr
    assert completed.stdout.decode().strip() == f"mubax-publish {VERSION}"


@linux_only
def test_updater_version_prints_it_and_touches_nothing(box, server):
    publish_typical_update(box, server)
    install_main_application(box)  # a main application that would record a start
    before = sorted(os.listdir(box.app_dir))
    completed = subprocess.run([program("mubax-updater"), "--version"], env=updater_env(box),
                               capture_output=True, timeout=30)
    assert completed.returncode == 0
    assert completed.stdout == f"mubax-updater {VERSION}\n".encode()
    assert completed.stderr == b""
    assert server.requests == []
    assert sorted(os.listdir(box.app_dir)) == before
    assert not started(box, seconds=1.5)


@linux_only
def test_updater_runs_as_before_with_any_other_arguments(box, server):
    components, _ = publish_typical_update(box, server)
    subprocess.run([program("mubax-updater"), "--version", "extra"], env=updater_env(box),
                   timeout=180, check=True)
    assert "/manifest.xml" in server.requests
    for name, data in components.items():
        with open(os.path.join(box.app_dir, name), "rb") as installed:
            assert installed.read() == data, name
    assert started(box)


def fixed_file_info(exe_path):
    """(file version, product version) of the VS_FIXEDFILEINFO in the executable's resources."""
    with open(exe_path, "rb") as exe:
        data = exe.read()
    at = data.find(struct.pack("<I", 0xFEEF04BD))
    assert at >= 0, "no VS_FIXEDFILEINFO"
    _, file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<5I", data, at + 4)

    def dotted(ms, ls):
        return f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}"
    return dotted(file_ms, file_ls), dotted(product_ms, product_ls), data


@windows_only
def test_windows_version_resource_carries_the_project_version():
    file_version, product_version, data = fixed_file_info(program("mubax-updater"))
    assert file_version == VERSION + ".0"
    assert product_version == VERSION + ".0"
    for key in ("FileVersion", "ProductVersion"):
        text = (key + "\0").encode("utf-16-le")
        # A string value: its key, padding to a 4-byte boundary, then the text.
        match = re.search(re.escape(text) + rb"(?:\0\0)?" + re.escape(VERSION.encode("utf-16-le"))
                          + b"\0\0", data)
        assert match, key

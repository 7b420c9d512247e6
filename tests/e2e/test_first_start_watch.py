"""The first-start watch end to end (setting vigilarArranque): the real updater installs a
release whose main application holds its mark, exits at once, or never takes it; the updater
must keep the good one and, for the other two, put the previous version back byte for byte, hold
the offered version and start the old one; a later release installs again."""

import configparser
import os
import subprocess
import time

import pytest

from conftest import TARGET, program, updater_env, wait_for
import sandbox
from sandbox import APP_KEY

KEEP_FOLDER = ".mubax-previous"
PROBATION_SECONDS = "3"


def standin(mode, tag):
    """The stand-in main application, told by its trailer what to do when started."""
    with open(program("watched_main_app"), "rb") as exe:
        return exe.read() + f"\nMUBAX-STANDIN {mode} {tag}\n".encode()


def main_path(box):
    return os.path.join(box.app_dir, "pos" + (".exe" if TARGET == "windows" else ""))


def held_version(box):
    if TARGET == "windows":
        query = subprocess.run(["wine", "reg", "query", "HKCU\\" + APP_KEY, "/v",
                                "versionRetenida"], capture_output=True, text=True)
        for line in query.stdout.splitlines():
            if "versionRetenida" in line:
                return line.split("REG_SZ")[-1].strip()
        return None
    store = configparser.RawConfigParser(delimiters=("=",))
    store.optionxform = str
    store.read(os.path.join(box.config_dir, "mubax", "registry.ini"))
    return store.get(APP_KEY, "versionRetenida", fallback=None)


def read(path):
    with open(path, "rb") as data:
        return data.read()


class Shop:
    """One shop PC: the application directory with version 1.0 running as a good stand-in."""

    def __init__(self, box, server):
        self.box, self.server = box, server
        self.stop_file = os.path.join(box.root, "stop")
        self.old = {"uno.dll": b"old uno " * 300, "pos": standin("hold", "old")}
        with open(os.path.join(box.app_dir, "uno.dll"), "wb") as out:
            out.write(self.old["uno.dll"])
        with open(main_path(box), "wb") as out:
            out.write(self.old["pos"])
        os.chmod(main_path(box), 0o755)
        open(os.path.join(box.app_dir, "logUpdate.txt"), "wb").close()
        sandbox.register_application(box, main_path(box), server.url("/manifest.xml"), "1.0")
        box.set_setting(APP_KEY, "vigilarArranque", PROBATION_SECONDS)

    def publish(self, version, main_mode):
        release = {"uno.dll": os.urandom(2000), "nuevo.dat": f"added by {version}".encode()}
        new_main = standin(main_mode, "new" + version)
        self.server.requests.clear()
        sandbox.serve_application_release(self.server, version, release, new_main,
                                          f"/{version}/c{{number}}.xml", f"/{version}/main.xml")
        return release, new_main

    def run(self):
        env = updater_env(self.box, {"MUBAX_TEST_STOP_FILE": self.box.native_path(self.stop_file),
                                     "MUBAX_TEST_INSTANCE_CHECKS": "20"})
        subprocess.run(self.box.command(program("mubax-updater")), env=env, timeout=180)

    def stop_applications(self):
        """Ends every running stand-in (they poll the stop file) before the next run."""
        open(self.stop_file, "wb").close()
        time.sleep(1.0)
        os.remove(self.stop_file)

    def starts(self):
        if not os.path.exists(self.box.started_file):
            return []
        with open(self.box.started_file, encoding="utf-8") as record:
            return record.read().split("\n")[:-1]


@pytest.mark.parametrize("mode", ["hold", "exit", "ignore"])
def test_first_start_keeps_a_good_release_and_reverts_and_holds_a_bad_one(box, server, mode):
    shop = Shop(box, server)
    try:
        release, new_main = shop.publish("1.1", mode)
        shop.run()
        files = sorted(os.listdir(box.app_dir))
        assert KEEP_FOLDER not in files
        if mode == "hold":
            assert read(main_path(box)) == new_main
            assert read(os.path.join(box.app_dir, "uno.dll")) == release["uno.dll"]
            assert "nuevo.dat" in files
            assert shop.starts() == ["held new1.1"]
            assert held_version(box) is None
            return
        assert read(main_path(box)) == shop.old["pos"]
        assert read(os.path.join(box.app_dir, "uno.dll")) == shop.old["uno.dll"]
        assert "nuevo.dat" not in files
        assert held_version(box) == "1.1"
        first = "exited new1.1" if mode == "exit" else "started new1.1"
        assert wait_for(lambda: shop.starts() == [first, "held old"], 10), shop.starts()
        lines = open(os.path.join(box.app_dir, "logUpdate.txt"), "rb").read()
        assert "Vuelta a la versión anterior".encode("cp1252") in lines
        assert "Versión retenida 1.1".encode("cp1252") in lines

        # The same manifest again: held, nothing fetched but the manifest, nothing written.
        server.requests.clear()
        shop.run()
        assert server.requests == ["/manifest.xml"]
        assert read(main_path(box)) == shop.old["pos"]
        assert "nuevo.dat" not in os.listdir(box.app_dir)

        # A different version installs (and starts well).
        shop.stop_applications()
        release, new_main = shop.publish("1.2", "hold")
        shop.run()
        assert read(main_path(box)) == new_main
        assert read(os.path.join(box.app_dir, "nuevo.dat")) == release["nuevo.dat"]
        assert KEEP_FOLDER not in os.listdir(box.app_dir)
        assert shop.starts()[-1] == "held new1.2"
    finally:
        open(shop.stop_file, "wb").close()
        time.sleep(0.5)


def test_with_the_setting_off_nothing_is_kept_or_watched(box, server):
    shop = Shop(box, server)
    box.set_setting(APP_KEY, "vigilarArranque", "0")
    try:
        shop.publish("1.1", "exit")
        shop.run()
        assert KEEP_FOLDER not in os.listdir(box.app_dir)
        assert wait_for(lambda: shop.starts() == ["exited new1.1"], 10)
        time.sleep(1.0)
        assert shop.starts() == ["exited new1.1"]  # no old version started again
        assert held_version(box) is None
    finally:
        open(shop.stop_file, "wb").close()
        time.sleep(0.5)

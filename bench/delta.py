#!/usr/bin/env python3
"""Runs the delta benchmark for bench/delta.sh: the newer executables published as a library
release with .gz copies, once as today (full documents only) and once with --previous (patches
against the older executables), each installed by the real Linux updater over the older files
from bench/serve.py. Reports bytes on the wire and the updater's peak RSS against an idle run.

    delta.py WORK_DIR LINUX_BIN LABEL"""
import filecmp
import os
import pathlib
import shutil
import subprocess
import sys
import time
import urllib.request

HERE = pathlib.Path(__file__).resolve().parent
NAMES = ["mubax-updater", "mubax-publish", "mubax-updater.exe", "mubax-publish.exe"]


def serve(directory, work):
    port_file = work / "port"
    port_file.unlink(missing_ok=True)
    process = subprocess.Popen([sys.executable, str(HERE / "serve.py"), str(directory),
                                str(port_file)])
    for _ in range(100):
        if port_file.exists() and port_file.read_text():
            break
        time.sleep(0.05)
    return process, f"http://127.0.0.1:{port_file.read_text()}"


def stats(base, path):
    return int(urllib.request.urlopen(f"{base}/{path}").read().decode().split()[1])


def publish(publish_tool, work, www, base, name, previous):
    """A library release of the newer executables, installed into work/till."""
    till = work / "till"
    command = [str(publish_tool), "library", "--version", "2", "--gzip", "--base-url",
               f"{base}/{name}", "--out", str(www / name)]
    command += ["--library", f"{work / 'new' / NAMES[0]}={till / NAMES[0]}"]
    for source in NAMES[1:]:
        command += ["--extra", f"{work / 'new' / source}={till / source}"]
    if previous:
        command += ["--previous", str(work / "old")]
    printed = subprocess.run(command, check=True, capture_output=True, text=True).stdout
    print(printed, file=sys.stderr)


def run_updater(updater, work, manifest):
    """One run of the real updater over the older files; wall seconds and peak RSS in KiB."""
    till = work / "till"
    shutil.rmtree(till, ignore_errors=True)
    shutil.copytree(work / "old", till)
    config = work / "config" / "mubax"
    config.mkdir(parents=True, exist_ok=True)
    (config / "registry.ini").write_text(
        "[Software\\MUBAX_Pirvel]\n"
        f"path={till / 'main-app-absent'}\nurlact={manifest}\nversion=1\n")
    env = dict(os.environ, XDG_CONFIG_HOME=str(work / "config"), XDG_RUNTIME_DIR=str(work))
    rss = work / "rss"
    started = time.perf_counter()
    subprocess.run(["/usr/bin/time", "-f", "%M", "-o", str(rss), str(updater)], env=env,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
    return time.perf_counter() - started, int(rss.read_text().split()[-1])


def main():
    work, linux_bin = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2])
    www = work / ("www-" + sys.argv[3])
    www.mkdir()
    server, base = serve(www, work)
    try:
        publish(linux_bin / "mubax-publish", work, www, base, "full", previous=False)
        publish(linux_bin / "mubax-publish", work, www, base, "delta", previous=True)
        (www / "idle").mkdir()
        (www / "idle" / "manifest.xml").write_text('<?xml version="1.0"?><actualizacion/>')
        figures = {}
        # The older commit's own updater, which knows nothing of patches, on the delta manifest.
        runs = [("full", linux_bin, "full"), ("delta", linux_bin, "delta"),
                ("idle", linux_bin, "idle"), ("older updater", work / "old", "delta")]
        for name, programs, release in runs:
            stats(base, "__reset")
            wall, rss = run_updater(programs / "mubax-updater", work,
                                    f"{base}/{release}/manifest.xml")
            figures[name] = (stats(base, "__stats"), rss, wall)
            if name != "idle":
                for file in NAMES:
                    if not filecmp.cmp(work / "till" / file, work / "new" / file, False):
                        raise SystemExit(f"{name}: {file} was not installed")
    finally:
        server.terminate()
        server.wait()
    sizes = {n: (work / "old" / n).stat().st_size for n in NAMES}
    new_sizes = {n: (work / "new" / n).stat().st_size for n in NAMES}
    patches = sorted((www / "delta").glob("*.patch.xml"))
    print("files (old -> new bytes): " +
          ", ".join(f"{n} {sizes[n]} -> {new_sizes[n]}" for n in NAMES))
    print(f"patch documents: {len(patches)}: " +
          ", ".join(f"{p.name} {p.stat().st_size}" for p in patches))
    full_wire, delta_wire = figures["full"][0], figures["delta"][0]
    print(f"on the wire, today's gzip'd full documents: {full_wire} bytes")
    print(f"on the wire, with patches: {delta_wire} bytes; ratio {delta_wire / full_wire:.3f}")
    print(f"on the wire, the older updater on the release with patches: "
          f"{figures['older updater'][0]} bytes (installed every file whole)")
    idle_rss = figures["idle"][1]
    largest = max(max(sizes.values()), max(new_sizes.values()))
    for name in ("full", "delta"):
        above = (figures[name][1] - idle_rss) / 1024
        print(f"updater peak RSS, {name}: {figures[name][1] / 1024:.1f} MiB, {above:.1f} MiB "
              f"above the idle run ({idle_rss / 1024:.1f} MiB); wall {figures[name][2]:.2f} s")
    print(f"largest base or result: {largest / 1048576:.1f} MiB")


if __name__ == "__main__":
    main()

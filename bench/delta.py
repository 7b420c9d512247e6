#!/usr/bin/env python3
"""Runs the delta benchmark for bench/delta.sh: the newer executables published as a library
release with .gz copies, once as today (full documents only) and once with --previous (patches
against the older executables), each installed by the real Linux updater over the older files
from bench/serve.py, and by the Windows one under Wine when WINDOWS_BIN is given (in the Wine
session of scripts/wine-env.sh). Reports bytes on the wire and each updater's peak RSS against an
idle run.

    delta.py WORK_DIR LINUX_BIN LABEL [WINDOWS_BIN]"""
import filecmp
import pathlib
import shutil
import subprocess
import sys
import time
import urllib.request

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "scripts"))
import sandbox  # noqa: E402

NAMES = ["mubax-updater", "mubax-publish", "mubax-updater.exe", "mubax-publish.exe"]
# The runs of each updater are named with its prefix: "full", "wine-full", ...
UPDATERS = {"": "Linux updater", "wine-": "Windows updater under Wine"}


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


def publish(publish_tool, work, www, base, name, previous, box):
    """A library release of the newer executables, installed into work/till (named as `box`'s
    updater sees it: the destinations are written into the manifest)."""
    till = work / "till"
    command = [str(publish_tool), "library", "--version", "2", "--gzip", "--base-url",
               f"{base}/{name}", "--out", str(www / name)]
    command += ["--library", f"{work / 'new' / NAMES[0]}={box.native_path(str(till / NAMES[0]))}"]
    for source in NAMES[1:]:
        command += ["--extra", f"{work / 'new' / source}={box.native_path(str(till / source))}"]
    if previous:
        command += ["--previous", str(work / "old")]
    printed = subprocess.run(command, check=True, capture_output=True, text=True).stdout
    print(printed, file=sys.stderr)


def run_updater(box, updater, work, manifest):
    """One run of the real updater over the older files; wall seconds and peak RSS in KiB. Under
    Wine GNU time measures the wine process, which becomes the program's; the output goes to
    /dev/null, not a pipe Wine's desktop process would hold open after the program ended."""
    till = work / "till"
    shutil.rmtree(till, ignore_errors=True)
    shutil.copytree(work / "old", till)
    sandbox.register_application(box, str(till / "main-app-absent"), manifest, "1")
    rss = work / "rss"
    started = time.perf_counter()
    subprocess.run(["/usr/bin/time", "-f", "%M", "-o", str(rss)] + box.command(str(updater)),
                   env=box.env(), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   check=False)
    return time.perf_counter() - started, int(rss.read_text().split()[-1])


def main():
    work, linux_bin = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2])
    windows_bin = pathlib.Path(sys.argv[4]) if len(sys.argv) > 4 else None
    www = work / ("www-" + sys.argv[3])
    www.mkdir()
    linux = sandbox.LinuxSandbox()
    wine = sandbox.WineSandbox() if windows_bin else None
    server, base = serve(www, work)
    try:
        # The releases differ only in the destinations their manifests name (Z:\ under Wine).
        prefixes = [("", linux)] + ([("wine-", wine)] if wine else [])
        for prefix, box in prefixes:
            for name, previous in (("full", False), ("delta", True)):
                publish(linux_bin / "mubax-publish", work, www, base, prefix + name, previous, box)
        (www / "idle").mkdir()
        (www / "idle" / "manifest.xml").write_text('<?xml version="1.0"?><actualizacion/>')
        figures = {}
        # The older commit's own updater, which knows nothing of patches, on the delta manifest.
        runs = [("full", linux, linux_bin / "mubax-updater", "full"),
                ("delta", linux, linux_bin / "mubax-updater", "delta"),
                ("idle", linux, linux_bin / "mubax-updater", "idle"),
                ("older updater", linux, work / "old" / "mubax-updater", "delta")]
        if wine:
            wine.clear_settings()
            runs += [(f"wine-{name}", wine, windows_bin / "mubax-updater.exe", release)
                     for name, release in (("full", "wine-full"), ("delta", "wine-delta"),
                                           ("idle", "idle"))]
        for name, box, updater, release in runs:
            stats(base, "__reset")
            wall, rss = run_updater(box, updater, work, f"{base}/{release}/manifest.xml")
            figures[name] = (stats(base, "__stats"), rss, wall)
            if not name.endswith("idle"):
                for file in NAMES:
                    if not filecmp.cmp(work / "till" / file, work / "new" / file, False):
                        raise SystemExit(f"{name}: {file} was not installed")
    finally:
        server.terminate()
        server.wait()
        if wine:
            wine.clear_settings()
            wine.cleanup()
        linux.cleanup()
    report(work, www, figures, [prefix for prefix, _ in prefixes])


def report(work, www, figures, prefixes):
    sizes = {n: (work / "old" / n).stat().st_size for n in NAMES}
    new_sizes = {n: (work / "new" / n).stat().st_size for n in NAMES}
    patches = sorted((www / "delta").glob("*.patch.xml"))
    print("files (old -> new bytes): " +
          ", ".join(f"{n} {sizes[n]} -> {new_sizes[n]}" for n in NAMES))
    print(f"patch documents: {len(patches)}: " +
          ", ".join(f"{p.name} {p.stat().st_size}" for p in patches))
    for prefix in prefixes:
        updater = UPDATERS[prefix]
        full_wire, delta_wire = figures[prefix + "full"][0], figures[prefix + "delta"][0]
        print(f"{updater}: on the wire, today's gzip'd full documents: {full_wire} bytes")
        print(f"{updater}: on the wire, with patches: {delta_wire} bytes; "
              f"ratio {delta_wire / full_wire:.3f}")
    print(f"on the wire, the older updater on the release with patches: "
          f"{figures['older updater'][0]} bytes (installed every file whole)")
    for prefix in prefixes:
        updater = UPDATERS[prefix]
        idle_rss = figures[prefix + "idle"][1]
        for name in ("full", "delta"):
            rss, wall = figures[prefix + name][1:]
            print(f"{updater} peak RSS, {name}: {rss / 1024:.1f} MiB, "
                  f"{(rss - idle_rss) / 1024:.1f} MiB above the idle run "
                  f"({idle_rss / 1024:.1f} MiB); wall {wall:.2f} s")
    largest = max(max(sizes.values()), max(new_sizes.values()))
    print(f"largest base or result: {largest / 1048576:.1f} MiB")


if __name__ == "__main__":
    main()

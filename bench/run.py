#!/usr/bin/env python3
"""Runs the benchmark for bench/run.sh: serves releases from a fast loopback server and times, in
one run and round after round (so that the machine's load falls alike on every program), the
update engine (bench driver, no front-end waits) against curl fetching the same documents and
curl piped into a C hex decoder that writes the same file with fsync and rename; peak RSS of each
process; the Windows build under Wine against a small WinINet fetch-and-decode program; bytes on
the wire with compression for the project's own executables.

    run.py WORK_DIR LINUX_BIN WINDOWS_BIN HEX_DECODE WININET_DECODE [--rounds N] [--no-windows]"""
import argparse
import filecmp
import os
import pathlib
import shutil
import statistics
import subprocess
import sys
import time
import urllib.request

HERE = pathlib.Path(__file__).resolve().parent
MIB = 1024 * 1024
RSS_FILE = "/dev/null"  # set by main()
OUTPUT_FILE = "/dev/null"  # set by main()


def run(command, shell=False):
    """Wall seconds and peak RSS (KiB) of one command (a pipeline when `shell`). GNU time starts
    it: a child forked from this (large) Python process would count Python's pages as its own.
    Its output goes to a file, not a pipe: a Wine program that makes a window station (COM does)
    starts Wine's desktop process, which inherits the program's standard handles and keeps a
    pipe open for about a second after the program has ended."""
    rss_file = RSS_FILE
    if shell:
        command = ["sh", "-c", command]
    with open(OUTPUT_FILE, "w+b") as output:
        started = time.perf_counter()
        subprocess.run(["/usr/bin/time", "-f", "%M", "-o", rss_file] + command, stdout=output,
                       stderr=subprocess.DEVNULL)
        elapsed = time.perf_counter() - started
        output.seek(0)
        printed = output.read().decode(errors="replace")
    return elapsed, int(open(rss_file).read().split()[-1]), printed


def stats(base, path):
    return urllib.request.urlopen(f"{base}/{path}").read().decode().split()


class Server:
    def __init__(self, directory, work):
        port_file = work / "port"
        self.process = subprocess.Popen([sys.executable, str(HERE / "serve.py"), str(directory),
                                         str(port_file)])
        for _ in range(100):
            if port_file.exists() and port_file.read_text():
                break
            time.sleep(0.05)
        self.base = f"http://127.0.0.1:{port_file.read_text()}"

    def stop(self):
        self.process.terminate()
        self.process.wait()


def make_release(www, name, base, dest, size, count):
    subprocess.run([sys.executable, str(HERE / "make_release.py"), str(www / name),
                    f"{base}/{name}", dest, str(size), str(count)], check=True)


def median_table(samples):
    return {key: statistics.median(values) for key, values in samples.items() if values}


def finish_case(target, label, served, written, count, samples):
    """Checks every installed file against the release's bytes, removes both, and returns the
    case's row of medians."""
    for n in range(1, count + 1):
        if not filecmp.cmp(written / f"{n}.bin", served / "files" / f"{n}.bin", False):
            raise SystemExit(f"{target} {label}: file {n} differs")
    shutil.rmtree(served)
    shutil.rmtree(written)
    row = (label, median_table(samples))
    print(f"{target} {label}: {row[1]}", file=sys.stderr)
    return row


def linux_cases(args, work, www, server):
    cases = [("1 MiB", 1 * MIB, 1), ("8 MiB", 8 * MIB, 1), ("32 MiB", 32 * MIB, 1),
             ("128 MiB", 128 * MIB, 1), ("1000 x 4 KiB", 4096, 1000)]
    out = work / "out-linux"
    out.mkdir(exist_ok=True)
    driver = str(args.linux_bin / "mubax-bench-driver")
    idle_release = www / "idle"
    idle_release.mkdir(exist_ok=True)
    (idle_release / "manifest.xml").write_text('<?xml version="1.0"?><actualizacion/>')
    rows = []
    for label, size, count in cases:
        name = label.replace(" ", "")
        make_release(www, name, server.base, str(out / name), size, count)
        (out / name).mkdir(exist_ok=True)
        urls = [f"{server.base}/{name}/{n}.xml" for n in range(1, count + 1)]
        config = work / f"{name}.curl"
        config.write_text("".join(f'url = "{u}"\noutput = "/dev/null"\n' for u in urls))
        # Many files: curl saves the documents, then the reference decoder writes each file durably.
        saved = work / f"{name}-saved"
        saved.mkdir(exist_ok=True)
        saving = work / f"{name}-saving.curl"
        saving.write_text("".join(f'url = "{u}"\noutput = "{saved}/{n}.xml"\n'
                                  for n, u in enumerate(urls, start=1)))
        decode_list = work / f"{name}.list"
        decode_list.write_text("".join(f"{saved}/{n}.xml {out / name / f'ref{n}.bin'}\n"
                                       for n in range(1, count + 1)))
        samples = {k: [] for k in ("updater", "engine", "curl", "decode", "rss", "rss_decode",
                                   "idle_rss", "connections")}
        for _ in range(args.rounds):
            stats(server.base, "__reset")
            wall, rss, printed = run([driver, f"{server.base}/{name}/manifest.xml"])
            # The request for the figures is a connection of its own.
            connections = int(stats(server.base, "__stats")[0]) - 1
            if printed.split()[1:] != [str(count), str(count)]:
                raise SystemExit(f"{label}: the engine did not install every file: {printed}")
            samples["updater"].append(wall)
            samples["engine"].append(float(printed.split()[0]))
            samples["rss"].append(rss)
            samples["connections"].append(connections)
            samples["idle_rss"].append(run([driver, f"{server.base}/idle/manifest.xml"])[1])
            samples["curl"].append(run(["curl", "-s", "-K", str(config)])[0])
            if count == 1:
                pipeline = (f"curl -s {urls[0]} | {args.hex_decode} {out / name / 'reference.bin'}")
            else:
                pipeline = f"curl -s -K {saving} && {args.hex_decode} --many < {decode_list}"
            wall, rss, _ = run(pipeline, shell=True)
            samples["decode"].append(wall)
            samples["rss_decode"].append(rss)
        rows.append(finish_case("linux", label, www / name, out / name, count, samples))
    return rows


def windows_cases(args, work, www, server):
    """Each round: the engine installing the file, then installing it again with the first-start
    watch's keep (the file now exists, so it is copied before it is replaced), the WinINet
    program, and the engine loading a manifest that installs nothing (the idle process)."""
    out = work / "out-windows"
    out.mkdir(exist_ok=True)
    dest = "Z:" + str(out).replace("/", "\\")
    driver = str(args.windows_bin / "mubax-bench-driver.exe")
    idle = f"{server.base}/idle/manifest.xml"
    rows = []
    for label, size in (("1 MiB", 1 * MIB), ("8 MiB", 8 * MIB), ("32 MiB", 32 * MIB),
                        ("128 MiB", 128 * MIB)):
        name = "w" + label.replace(" ", "")
        make_release(www, name, server.base, dest + "\\" + name, size, 1)
        (out / name).mkdir(exist_ok=True)
        manifest = f"{server.base}/{name}/manifest.xml"
        samples = {k: [] for k in ("updater", "engine", "keep", "wininet", "rss", "rss_keep",
                                   "idle_rss", "rss_wininet")}
        for _ in range(args.rounds):
            for command, time_key, rss_key in (([driver, manifest], "updater", "rss"),
                                               ([driver, "--keep", f"{dest}\\{name}\\", manifest],
                                                "keep", "rss_keep")):
                wall, rss, printed = run(["wine"] + command)
                if printed.split()[1:] != ["1", "1"]:
                    raise SystemExit(f"Windows {label} ({time_key}): the engine did not install "
                                     f"the file: {printed}")
                samples[time_key].append(wall)
                samples[rss_key].append(rss)
                if time_key == "updater":
                    samples["engine"].append(float(printed.split()[0]))
            wall, rss, _ = run(["wine", str(args.wininet_decode), f"{server.base}/{name}/1.xml",
                                dest + "\\" + name + "\\reference.bin"])
            samples["wininet"].append(wall)
            samples["rss_wininet"].append(rss)
            samples["idle_rss"].append(run(["wine", driver, idle])[1])
        rows.append(finish_case("windows", label, www / name, out / name, 1, samples))
    return rows


def compression_case(args, work, www, server):
    """Bytes on the wire for a release of the project's own executables served with .gz copies."""
    sources = [args.linux_bin / "mubax-updater", args.linux_bin / "mubax-publish",
               args.windows_bin / "mubax-updater.exe", args.windows_bin / "mubax-publish.exe"]
    sources = [s for s in sources if s.exists()]
    out = work / "out-own"
    out.mkdir(exist_ok=True)
    command = [str(args.linux_bin / "mubax-publish"), "library", "--version", "bench", "--gzip",
               "--base-url", f"{server.base}/own", "--out", str(www / "own")]
    command += ["--library", f"{sources[0]}={out / sources[0].name}"]
    for source in sources[1:]:
        command += ["--extra", f"{source}={out / source.name}"]
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
    plain = sum(p.stat().st_size for p in (www / "own").iterdir() if p.suffix == ".xml")
    stats(server.base, "__reset")
    run([str(args.linux_bin / "mubax-bench-driver"), f"{server.base}/own/manifest.xml"])
    wire = int(stats(server.base, "__stats")[1])
    return [(s.name, s.stat().st_size) for s in sources], plain, wire


def report(linux, windows, own):
    print("\nLinux (medians; times in seconds, RSS in MiB):")
    print("| release | updater | engine alone | curl | curl + decode | updater / curl+decode | updater / curl | updater peak RSS | above idle | curl+decode RSS | connections |")
    print("|---|---|---|---|---|---|---|---|---|---|---|")
    for label, m in linux:
        decode = m.get("decode")
        ratio = f"{m['updater'] / decode:.2f}" if decode else "-"
        print(f"| {label} | {m['updater']:.3f} | {m['engine']:.3f} | {m['curl']:.3f} | "
              f"{decode and f'{decode:.3f}' or '-'} | {ratio} | {m['updater'] / m['curl']:.2f} | "
              f"{m['rss'] / 1024:.1f} | {(m['rss'] - m['idle_rss']) / 1024:.1f} | "
              f"{m.get('rss_decode', 0) / 1024:.1f} | {m['connections']:.0f} |")
    if windows:
        print("\nWindows build under Wine (medians; seconds, MiB; \"with watch\": kept first):")
        print("| release | updater (wine process) | engine alone | WinINet fetch+decode | updater / WinINet | with watch | with watch / WinINet | updater peak RSS | above idle | with watch above idle | WinINet program RSS |")
        print("|---|---|---|---|---|---|---|---|---|---|---|")
        for label, m in windows:
            print(f"| {label} | {m['updater']:.3f} | {m['engine']:.3f} | {m['wininet']:.3f} | "
                  f"{m['updater'] / m['wininet']:.2f} | {m['keep']:.3f} | "
                  f"{m['keep'] / m['wininet']:.2f} | {m['rss'] / 1024:.1f} | "
                  f"{(m['rss'] - m['idle_rss']) / 1024:.1f} | "
                  f"{(m['rss_keep'] - m['idle_rss']) / 1024:.1f} | {m['rss_wininet'] / 1024:.1f} |")
    if own:
        sources, plain, wire = own
        print("\nCompression (the project's own executables, served with their .gz copies):")
        print("files: " + ", ".join(f"{name} ({size} bytes)" for name, size in sources))
        print(f"documents and manifest: {plain} bytes; on the wire: {wire} bytes; "
              f"ratio {wire / plain:.3f}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("work", type=pathlib.Path)
    parser.add_argument("linux_bin", type=pathlib.Path)
    parser.add_argument("windows_bin", type=pathlib.Path)
    parser.add_argument("hex_decode")
    parser.add_argument("wininet_decode", type=pathlib.Path)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--no-windows", action="store_true")
    args = parser.parse_args()
    global RSS_FILE, OUTPUT_FILE
    RSS_FILE = str(args.work / "rss")
    OUTPUT_FILE = str(args.work / "output")
    www = args.work / "www"
    www.mkdir(parents=True, exist_ok=True)
    server = Server(www, args.work)
    try:
        own = compression_case(args, args.work, www, server)
        linux = linux_cases(args, args.work, www, server)
        windows = [] if args.no_windows else windows_cases(args, args.work, www, server)
    finally:
        server.stop()
    report(linux, windows, own)


if __name__ == "__main__":
    main()

"""End-to-end tests of the release tool: what mubax-publish writes, the real updater installs
byte for byte; its verify command agrees with the updater; bad input writes nothing at all."""

import gzip
import os
import re
import shutil
import socket
import subprocess

import pytest

from conftest import TARGET, program, updater_env, wait_for
from sandbox import APP_KEY

EXE = ".exe" if TARGET == "windows" else ""
# "component 2: <address> -> <destination>: 3000 bytes, would install"
VERDICT = re.compile(r"^(?P<label>[^:]+): (?P<address>\S+) -> (?P<destination>.*): "
                     r"(?:(?P<size>\d+) bytes, )?(?P<verdict>would install|would NOT install: .*)$")


class Outcome:
    def __init__(self, completed):
        self.status = completed.returncode
        self.lines = completed.stdout.decode("utf-8").splitlines()
        self.errors = completed.stderr.decode("utf-8")

    def __str__(self):
        # What a failed assertion shows: a program that never started prints nothing on stdout.
        return f"status {self.status}\nstdout: {self.lines}\nstderr: {self.errors}"

    def verdicts(self):
        """Each reported file by its document's name: (label, destination, size, verdict)."""
        found = {}
        for line in self.lines:
            match = VERDICT.match(line)
            if match:
                name = re.split(r"[/\\]", match["address"])[-1]
                size = int(match["size"]) if match["size"] else None
                found[name] = (match["label"], match["destination"], size, match["verdict"])
        return found


def tool(box, *arguments, cwd=None):
    completed = subprocess.run(box.command(program("mubax-publish")) + list(arguments),
                               env=updater_env(box, {"LC_ALL": "C.UTF-8"}), cwd=cwd,
                               capture_output=True, timeout=180)
    return Outcome(completed)


def write_sources(directory, files):
    os.makedirs(directory, exist_ok=True)
    paths = {}
    for name, data in files.items():
        paths[name] = os.path.join(directory, name)
        with open(paths[name], "wb") as source:
            source.write(data)
    return paths


def serve(server, directory, prefix="/rel"):
    for name in os.listdir(directory):
        with open(os.path.join(directory, name), "rb") as document:
            server.add(f"{prefix}/{name}", document.read())


def run_updater(box):
    subprocess.run(box.command(program("mubax-updater")), env=updater_env(box), timeout=180)
    assert wait_for(lambda: os.path.exists(box.started_file))


def read(path):
    with open(path, "rb") as data:
        return data.read()


def main_executable(box):
    return os.path.join(box.app_dir, "pos" + EXE)


def install_old_main(box):
    shutil.copyfile(program("fake_main_app"), main_executable(box))
    os.chmod(main_executable(box), 0o755)
    box.set_setting(APP_KEY, "path", box.native_path(main_executable(box)))


COMPONENTS = {
    "uno.dll": os.urandom(3000),
    "dos.dat": bytes(range(256)) * 8,
    # Windows-1252 beyond Latin-1 (the euro sign) and a space: the name must survive both code
    # pages and the document name must be a plain one.
    "se\u00f1al \u20ac.dat": b"\x00\xff\x10" * 333,
}


def publish_app(box, tmp_path, base_url, version="1.1-\u20ac", extra=()):
    """Publishes COMPONENTS and a new main executable (every file exactly its limit - 1 bytes)."""
    paths = write_sources(tmp_path / "src", COMPONENTS)
    new_main = tmp_path / "src" / ("pos" + EXE)
    # Still runnable with bytes after its end, yet distinct from the stand-in installed before.
    new_main.write_bytes(read(program("fake_main_app")) + b"release " * 40)
    out = tmp_path / "release"
    arguments = ["app", "--version", version, "--base-url", base_url,
                 "--out", box.native_path(str(out)), "--main", box.native_path(str(new_main))]
    for name, path in paths.items():
        arguments += ["--component", f"{box.native_path(path)}={name}"]
    outcome = tool(box, *arguments, *extra)
    return outcome, out, read(new_main)


def test_app_release_is_installed_byte_for_byte_and_verify_agrees(box, server, tmp_path):
    # A path that reads like an XML escape must reach the updater as it was written.
    outcome, out, new_main = publish_app(box, tmp_path, server.url("/r&amp;d"))
    assert outcome.status == 0, outcome
    assert outcome.errors == ""
    serve(server, out, prefix="/r&amp;d")
    with open(main_executable(box), "wb") as old:
        old.write(b"old main application")
    box.set_setting(APP_KEY, "path", box.native_path(main_executable(box)))
    box.set_setting(APP_KEY, "urlact", server.url("/r&amp;d/manifest.xml"))
    box.set_setting(APP_KEY, "version", "1.0")

    checked = tool(box, "verify", server.url("/r&amp;d/manifest.xml"), "--installed-version", "1.0")
    assert checked.status == 0, checked
    assert "mode: APLICACION" in checked.lines[1] and "1.1-\u20ac" in checked.lines[1]
    verdicts = checked.verdicts()
    assert sorted(verdict for _, _, _, verdict in verdicts.values()) == ["would install"] * 4
    assert [line for line in checked.lines if line.startswith("first-start watch:")] == [
        "first-start watch: the release replaces the main executable; a first-start watch watches the new one "
        "start"]
    assert sorted(size for _, _, size, _ in verdicts.values()) == sorted(
        [len(data) for data in COMPONENTS.values()] + [len(new_main)])
    # A dry run: nothing of the release reached the application directory.
    assert sorted(os.listdir(box.app_dir)) == ["pos" + EXE]
    assert read(main_executable(box)) == b"old main application"

    run_updater(box)
    for name, data in COMPONENTS.items():
        assert read(os.path.join(box.app_dir, name)) == data, name
    assert read(main_executable(box)) == new_main
    assert {path.rsplit("/", 1)[1] for path in server.requests} == set(os.listdir(out))


def test_a_release_with_patches_reaches_a_till_as_patches_and_a_stranger_gets_full_files(
        box, server, tmp_path):
    """--previous: the till holding the earlier files fetches only the patches; verify applies
    them; a file unlike the base (changed on the till) still arrives whole in the same run."""
    old = {"uno.dll": os.urandom(3000), "dos.dat": bytes(range(256)) * 8}
    shipped = write_sources(tmp_path / "shipped", old)
    old_main = tmp_path / "shipped" / ("pos" + EXE)
    shutil.copyfile(program("fake_main_app"), old_main)
    new = {"uno.dll": old["uno.dll"] + b"one more line", "dos.dat": old["dos.dat"][::-1][:1500]}
    paths = write_sources(tmp_path / "src", new)
    new_main = tmp_path / "src" / ("pos" + EXE)
    new_main.write_bytes(read(program("fake_main_app")) + b"release " * 40)
    out = tmp_path / "release"
    arguments = ["app", "--version", "1.1", "--base-url", server.url("/rel"),
                 "--out", box.native_path(str(out)), "--main", box.native_path(str(new_main)),
                 "--previous", box.native_path(str(tmp_path / "shipped"))]
    for name, path in paths.items():
        arguments += ["--component", f"{box.native_path(path)}={name}"]
    assert tool(box, *arguments).status == 0
    # dos.dat changed beyond an eighth of itself: no patch for it.
    assert sorted(n for n in os.listdir(out) if n.endswith(".patch.xml")) == [
        "comp1-uno.dll.patch.xml", "main-pos" + EXE + ".patch.xml"]
    serve(server, out)
    checked = tool(box, "verify", server.url("/rel/manifest.xml"), "--installed-version", "1.0",
                   "--previous", box.native_path(str(tmp_path / "shipped")))
    assert checked.status == 0, checked
    assert sum(" patch " in line and "applies" in line for line in checked.lines) == 2, checked

    for name in old:
        shutil.copyfile(shipped[name], os.path.join(box.app_dir, name))
    shutil.copyfile(old_main, main_executable(box))
    os.chmod(main_executable(box), 0o755)
    box.set_setting(APP_KEY, "path", box.native_path(main_executable(box)))
    box.set_setting(APP_KEY, "urlact", server.url("/rel/manifest.xml"))
    box.set_setting(APP_KEY, "version", "1.0")
    server.requests.clear()  # verify's own fetches
    run_updater(box)
    for name, data in new.items():
        assert read(os.path.join(box.app_dir, name)) == data, name
    assert read(main_executable(box)) == read(new_main)
    fetched = sorted(path.rsplit("/", 1)[1] for path in server.requests)
    assert fetched == sorted(["manifest.xml", "comp1-uno.dll.patch.xml", "comp2-dos.dat.xml",
                              "main-pos" + EXE + ".patch.xml"])

    # Another till whose uno.dll is not the base: the full document, in the same run.
    with open(os.path.join(box.app_dir, "uno.dll"), "wb") as changed:
        changed.write(b"not the shipped file")
    shutil.copyfile(old_main, main_executable(box))
    server.requests.clear()
    run_updater(box)
    assert read(os.path.join(box.app_dir, "uno.dll")) == new["uno.dll"]
    assert read(main_executable(box)) == read(new_main)
    assert "comp1-uno.dll.xml" in {path.rsplit("/", 1)[1] for path in server.requests}


def test_library_release_is_installed_byte_for_byte(box, server, tmp_path):
    files = {"extra uno.txt": b"texto\r\n" * 50, "\u00f1and\u00fa.bin": os.urandom(700),
             "control.ocx": os.urandom(4096), "libreria.dll": bytes(range(255, -1, -1)) * 3}
    paths = write_sources(tmp_path / "src", files)
    out = tmp_path / "release"
    arguments = ["library", "--version", "7.3", "--base-url", server.url("/rel/"),
                 "--out", box.native_path(str(out)), "--margin", "100"]
    # Destinations are absolute paths, written as the target's file system spells them.
    for option, name in zip(("--extra", "--extra", "--activex", "--library"), files):
        destination = box.native_path(os.path.join(box.app_dir, name))
        arguments += [option, f"{box.native_path(paths[name])}={destination}"]
    outcome = tool(box, *arguments)
    assert outcome.status == 0, outcome
    serve(server, out)
    install_old_main(box)
    box.set_setting(APP_KEY, "urlact", server.url("/rel/manifest.xml"))
    box.set_setting(APP_KEY, "version", "7.2")

    checked = tool(box, "verify", server.url("/rel/manifest.xml"), "--installed-version", "7.2")
    assert checked.status == 0, checked
    assert checked.lines[1].startswith("mode: TRANSPARENTE")
    labels = sorted(label for label, _, _, _ in checked.verdicts().values())
    assert labels == ["ActiveX file", "additional file", "additional file", "library file"]
    assert any(line.startswith("first-start watch: the release does not replace the main executable")
               for line in checked.lines), checked

    run_updater(box)
    for name, data in files.items():
        assert read(os.path.join(box.app_dir, name)) == data, name
    # The margin is room above the least limit that admits each file.
    manifest = read(out / "manifest.xml").decode("utf-8")
    limits = sorted(int(limit) for limit in re.findall(r"<tamfichero>(\d+)</tamfichero>", manifest))
    assert limits == sorted(len(data) + 101 for data in files.values())


def cut_digit(document):
    head, digits, tail = re.match(rb"(.*<fichero>)([0-9A-F]*)(</fichero>.*)", document,
                                  re.S).groups()
    return head + digits[:-1] + tail


def lower_limit(manifest, element):
    """The limit of `element` lowered by one byte, to the file's own size: no longer admitted."""
    return re.sub(rf"<{element}>(\d+)</{element}>".encode(),
                  lambda match: f"<{element}>{int(match[1]) - 1}</{element}>".encode(), manifest)


def replace_digit(document):
    return document.replace(b"<fichero>00", b"<fichero>0G", 1)


# Which document goes bad, which installed file that costs, and how. Which problem each is, the
# engine reports as a value (FileReportsTest); verify only words it.
TAMPERINGS = {
    "hex digit made a non-digit": ("comp2-dos.dat.xml", "dos.dat", "comp2-dos.dat.xml",
                                   replace_digit),
    "text cut to odd length": ("comp2-dos.dat.xml", "dos.dat", "comp2-dos.dat.xml", cut_digit),
    "component limit below size": ("comp2-dos.dat.xml", "dos.dat", "manifest.xml",
                                   lambda doc: lower_limit(doc, "tamcomp2")),
    "main limit below size": (f"main-pos{EXE}.xml", None, "manifest.xml",
                              lambda doc: lower_limit(doc, "tamfichero")),
}


@pytest.mark.parametrize("tampering", list(TAMPERINGS))
def test_verify_names_a_tampered_document_and_the_updater_skips_it(box, server, tmp_path,
                                                                   tampering):
    broken, lost, changed, change = TAMPERINGS[tampering]
    outcome, out, _ = publish_app(box, tmp_path, server.url("/rel"), version="2.0")
    assert outcome.status == 0, outcome
    (out / changed).write_bytes(change((out / changed).read_bytes()))
    serve(server, out)

    checked = tool(box, "verify", server.url("/rel/manifest.xml"))
    assert checked.status != 0
    verdicts = checked.verdicts()
    assert len(verdicts) == 4, checked.lines
    for name, (_, _, size, verdict) in verdicts.items():
        if name == broken:
            assert verdict.startswith("would NOT install: "), verdict
            assert size is None
        else:
            assert verdict == "would install", (name, verdict)

    # The updater itself installs exactly what verify said it would.
    install_old_main(box)
    old_main = read(main_executable(box))
    box.set_setting(APP_KEY, "urlact", server.url("/rel/manifest.xml"))
    run_updater(box)
    installed = {name for name in COMPONENTS if os.path.exists(os.path.join(box.app_dir, name))}
    assert installed == set(COMPONENTS) - {lost}
    assert (read(main_executable(box)) == old_main) == (lost is None)


def test_verify_without_a_mode_fails_and_says_why(box, server, tmp_path):
    outcome, out, _ = publish_app(box, tmp_path, box.native_path(str(tmp_path / "release")),
                                  version="3.0")
    assert outcome.status == 0, outcome
    manifest = box.native_path(str(out / "manifest.xml"))

    same = tool(box, "verify", manifest, "--installed-version", "3.0")
    assert same.status != 0
    assert same.lines[1] == 'mode: none: version "3.0" equals the installed version'
    missing = tool(box, "verify", box.native_path(str(out / "absent.xml")))
    assert missing.status != 0
    assert missing.lines[1].startswith("mode: none: the manifest cannot be loaded")
    # A plain local path as the base: every document is read from disk.
    local = tool(box, "verify", manifest)
    assert local.status == 0, local


def fill_address(server, length, document_name):
    """A base URL whose address for `document_name` is exactly `length` bytes long, and its path."""
    padding = length - len(server.url("/")) - len("/") - len(document_name)
    assert padding > 0
    return server.url("/" + "p" * padding), "/" + "p" * padding


def test_length_limits_are_the_updaters_own(box, server, tmp_path):
    paths = write_sources(tmp_path / "src", {"lib.bin": b"\x01\x02\x03", "pos": b"MZ"})
    directory = box.native_path(box.app_dir) + ("\\" if TARGET == "windows" else "/")
    base, base_path = fill_address(server, 200, "library-lib.bin.xml")

    def library_release(out, destination_length):
        """A library release whose destination is `destination_length` bytes long."""
        destination = directory + "n" * (destination_length - len(directory) - 4) + ".bin"
        return destination, tool(box, "library", "--version", "1", "--base-url", base, "--out",
                                 box.native_path(str(out)), "--library",
                                 f"{box.native_path(paths['lib.bin'])}={destination}")

    refused = tmp_path / "refused"
    _, outcome = library_release(refused, 255)
    assert outcome.status != 0 and "254" in outcome.errors
    assert not refused.exists()

    # Address and destination together far beyond one text's 254 bytes: each fits, so it installs.
    accepted = tmp_path / "accepted"
    destination, outcome = library_release(accepted, 254)
    assert outcome.status == 0, outcome
    serve(server, accepted, prefix=base_path)
    checked = tool(box, "verify", box.native_path(str(accepted / "manifest.xml")))
    assert checked.status == 0, checked
    box.set_setting(APP_KEY, "urlact", box.native_path(str(accepted / "manifest.xml")))
    install_old_main(box)
    run_updater(box)
    assert read(os.path.join(box.app_dir, destination[len(directory):])) == b"\x01\x02\x03"

    # The main executable's address is a text like any other: 254 bytes at most.
    for length, admitted in ((254, True), (255, False)):
        out = tmp_path / f"main{length}"
        main_base, main_path = fill_address(server, length, "main-pos.xml")
        outcome = tool(box, "app", "--version", "1", "--out", box.native_path(str(out)),
                       "--base-url", main_base, "--main", box.native_path(paths["pos"]))
        assert (outcome.status == 0) == admitted, outcome.errors
        assert out.exists() == admitted
        if admitted:
            serve(server, out, prefix=main_path)
            checked = tool(box, "verify", server.url(main_path + "/manifest.xml"))
            assert checked.status == 0, checked


# Each case: options changed in, or components added to, a good command line ("{name}" stands for
# the native path of a source file), and a part of the message that must explain the refusal.
BAD_INPUT = {
    "missing source": ([("--component", "{absent.dll}=absent.dll")], "no such file"),
    "empty source": ([("--component", "{empty.dat}=empty.dat")], "empty"),
    "empty version": ([("--version", "")], 'version "" is empty'),
    "version outside Windows-1252": ([("--version", "2.0-\u4e2d")], "Windows-1252"),
    "destination outside Windows-1252": ([("--component", "{uno.dll}=\u4e2d.dll")],
                                         "Windows-1252"),
    "destination of 255 bytes": ([("--component", "{uno.dll}=" + "d" * 251 + ".dll")], "254"),
    "absolute component destination": ([("--component", "{uno.dll}={x.dll}")], "relative"),
    "component destination climbing out": ([("--component", "{uno.dll}=../../../etc/evil.dll")],
                                           "inside the main application's directory"),
    "component destination on another share": ([("--component", "{uno.dll}=\\\\h\\s\\x.dll")],
                                               "inside the main application's directory"),
    "same destination twice": ([("--component", "{uno.dll}=x.dll"),
                                ("--component", "{x.dll}=X.DLL")], "twice"),
    "version with a trailing space": ([("--version", "2.0 ")], "space"),
    "unsupported address scheme": ([("--base-url", "ftp://example.com/rel")], "ftp"),
    "manifest name with a directory": ([("--manifest-name", "../manifest.xml")],
                                       "plain file name"),
}


@pytest.mark.parametrize("case", list(BAD_INPUT))
def test_bad_input_is_refused_and_nothing_is_written(box, tmp_path, case):
    src = tmp_path / "src"
    write_sources(src, {"uno.dll": b"\x01", "main.exe": b"MZ", "x.dll": b"x", "empty.dat": b""})
    out = tmp_path / "release"
    out.mkdir()
    changes, message = BAD_INPUT[case]
    options = {"--version": "2.0", "--base-url": "http://example.com/rel",
               "--out": box.native_path(str(out)), "--main": "{main.exe}"}
    components = []
    for option, value in changes:
        if option == "--component":
            components += [option, value]
        else:
            options[option] = value
    command = ["app"] + [part for pair in options.items() for part in pair] + components
    for name in ("uno.dll", "main.exe", "x.dll", "empty.dat", "absent.dll"):
        command = [part.replace("{" + name + "}", box.native_path(str(src / name)))
                   for part in command]
    outcome = tool(box, *command)
    assert outcome.status != 0
    assert message in outcome.errors, outcome.errors
    assert "nothing was written" in outcome.errors
    assert os.listdir(out) == []


def test_more_files_than_a_release_holds_are_refused(box, tmp_path):
    write_sources(tmp_path, {"c": b"c", "m": b"m"})
    components = [part for n in range(1000) for part in ("--component", f"c=d{n}")]
    outcome = tool(box, "app", "--version", "1", "--base-url", "http://example.com/", "--out",
                   "out", "--main", "m", *components, cwd=tmp_path)
    assert outcome.status != 0 and "at most 1000 files" in outcome.errors
    assert not (tmp_path / "out").exists()


def test_unusable_output_directory_is_refused(box, tmp_path):
    write_sources(tmp_path, {"main.exe": b"MZ"})
    common = ["app", "--version", "1", "--base-url", "http://example.com/",
              "--main", box.native_path(str(tmp_path / "main.exe"))]
    orphan = tmp_path / "no" / "such" / "release"
    outcome = tool(box, *common, "--out", box.native_path(str(orphan)))
    assert outcome.status != 0 and "does not exist" in outcome.errors
    assert not (tmp_path / "no").exists()
    outcome = tool(box, *common, "--out", box.native_path(str(tmp_path / "main.exe")))
    assert outcome.status != 0 and "not a directory" in outcome.errors
    assert read(tmp_path / "main.exe") == b"MZ"
    if os.path.isdir("/sys/kernel"):
        # A directory no one may create files in, not even root.
        outcome = tool(box, *common, "--out", box.native_path("/sys/kernel"))
        assert outcome.status != 0 and "cannot write" in outcome.errors
        assert not any(name.endswith(".xml") for name in os.listdir("/sys/kernel"))


def test_a_write_failing_midway_leaves_nothing_behind(box, tmp_path):
    # Each file is staged beside its final name; a directory where the manifest is staged makes
    # the last write fail after every file document was written.
    (tmp_path / "release" / ".manifest.xml.partial").mkdir(parents=True)
    outcome, out, _ = publish_app(box, tmp_path, "http://example.com/rel")
    assert outcome.status != 0 and "nothing was written" in outcome.errors
    assert os.listdir(out) == [".manifest.xml.partial"]
    # A directory in place of a document is found before anything is written.
    shutil.rmtree(out)
    (out / "comp1-uno.dll.xml").mkdir(parents=True)
    outcome, out, _ = publish_app(box, tmp_path, "http://example.com/rel")
    assert outcome.status != 0 and "is a directory" in outcome.errors
    assert os.listdir(out) == ["comp1-uno.dll.xml"]


def test_application_directory_counts_toward_component_limits(box, tmp_path):
    paths = write_sources(tmp_path / "src", {"uno.dll": b"\x01", "main.exe": b"MZ"})
    out = tmp_path / "release"
    base = box.native_path(str(out))

    def app_dir(placed):
        """A directory that makes the component's placed destination `placed` bytes."""
        return "C:\\" + "d" * (placed - len("C:\\") - len("\\uno.dll"))

    def publish(placed):
        return tool(box, "app", "--version", "1", "--base-url", base, "--out", base,
                    "--main", box.native_path(paths["main.exe"]),
                    "--component", box.native_path(paths["uno.dll"]), "--app-dir", app_dir(placed))

    refused = publish(255)
    assert refused.status != 0 and "254" in refused.errors
    assert not out.exists()
    assert publish(254).status == 0

    manifest = box.native_path(str(out / "manifest.xml"))
    fits = tool(box, "verify", manifest, "--app-dir", app_dir(254))
    assert fits.status == 0, fits
    too_deep = tool(box, "verify", manifest, "--app-dir", app_dir(255))
    assert too_deep.status != 0
    verdicts = too_deep.verdicts()
    assert "254" in verdicts["comp1-uno.dll.xml"][3]
    assert verdicts["main-main.exe.xml"][3] == "would install"


def test_every_command_has_help(box):
    for command, option in (("app", "--component"), ("library", "--activex"),
                            ("verify", "--installed-version")):
        outcome = tool(box, command, "--help")
        assert outcome.status == 0
        assert any(option in line for line in outcome.lines), outcome.lines


def test_gzip_copies_decompress_to_every_document_and_the_manifest(box, tmp_path):
    files = {"uno.dll": os.urandom(3000), "informes.dat": b"linea\r\n" * 400}
    paths = write_sources(tmp_path / "src", files)
    out = tmp_path / "release"
    arguments = ["app", "--version", "2.0", "--base-url", "http://updates.example.com/pos/2.0",
                 "--out", box.native_path(str(out)), "--gzip",
                 "--main", box.native_path(paths["uno.dll"]),
                 "--component", box.native_path(paths["informes.dat"])]
    outcome = tool(box, *arguments)
    assert outcome.status == 0, outcome
    names = sorted(os.listdir(out))
    plain = [name for name in names if not name.endswith(".gz")]
    assert names == sorted(plain + [name + ".gz" for name in plain])
    assert "manifest.xml" in plain and len(plain) == 3
    for name in plain:
        assert gzip.decompress(read(out / (name + ".gz"))) == read(out / name), name
    # Hexadecimal text of compressible bytes shrinks far below its length.
    document = next(name for name in plain if name.startswith("comp1-"))
    assert len(read(out / (document + ".gz"))) < len(read(out / document)) // 10


class Nginx:
    """Debian's nginx serving `root` on a loopback port, unprivileged paths only, with
    precompressed copies served where they exist and every answer paced at `rate`."""

    def __init__(self, root, work, rate):
        with socket.socket() as probe:
            probe.bind(("127.0.0.1", 0))
            self.port = probe.getsockname()[1]
        self.access_log = os.path.join(work, "access.log")
        config = os.path.join(work, "nginx.conf")
        temp = os.path.join(work, "temp")
        os.makedirs(temp, exist_ok=True)
        with open(config, "w", encoding="utf-8") as out:
            out.write(f"""daemon off; pid {work}/nginx.pid; error_log {work}/error.log;
user root root;
events {{ worker_connections 64; }}
http {{
  access_log {self.access_log};
  client_body_temp_path {temp}/body; proxy_temp_path {temp}/proxy;
  fastcgi_temp_path {temp}/fastcgi; uwsgi_temp_path {temp}/uwsgi; scgi_temp_path {temp}/scgi;
  types {{ text/xml xml; }}
  server {{ listen 127.0.0.1:{self.port}; root {root}; gzip_static on; limit_rate {rate}; }}
}}
""")
        self.process = subprocess.Popen(["/usr/sbin/nginx", "-c", config, "-p", work],
                                        stderr=subprocess.DEVNULL)
        assert wait_for(lambda: self._listening(), 10)

    def _listening(self):
        with socket.socket() as probe:
            return probe.connect_ex(("127.0.0.1", self.port)) == 0

    def url(self, path):
        return f"http://127.0.0.1:{self.port}{path}"

    def statuses(self, prefix):
        """The status of every answer to a request under `prefix`, in order."""
        with open(self.access_log, encoding="latin-1") as log:
            return [int(line.split('"')[2].split()[0]) for line in log if f"GET {prefix}" in line]

    def close(self):
        self.process.terminate()
        self.process.wait(10)


@pytest.mark.skipif(not os.path.exists("/usr/sbin/nginx"), reason="needs Debian's nginx")
@pytest.mark.parametrize("gzip_copies", [False, True], ids=["plain", "gzip_static"])
def test_nginx_download_cut_by_a_kill_is_taken_up_and_installs_whole(box, tmp_path, gzip_copies):
    """A plain static server: a cut plain document is resumed from where it broke (206); a cut
    compressed one is asked for again as the plain document, which nginx sends whole (200)."""
    files = {"uno.dll": os.urandom(400000), "dos.dat": os.urandom(20000)}
    paths = write_sources(tmp_path / "src", files)
    new_main = tmp_path / "src" / ("pos" + EXE)
    new_main.write_bytes(read(program("fake_main_app")) + b"release " * 40)
    root = tmp_path / "www"
    root.mkdir()
    server = Nginx(str(root), str(tmp_path), "100k")
    try:
        arguments = ["app", "--version", "2.0", "--base-url", server.url("/rel"),
                     "--out", box.native_path(str(root / "rel")),
                     "--main", box.native_path(str(new_main))]
        arguments += ["--gzip"] if gzip_copies else []
        for name, path in paths.items():
            arguments += ["--component", f"{box.native_path(path)}={name}"]
        published = tool(box, *arguments)
        assert published.status == 0, str(published)
        install_old_main(box)
        box.set_setting(APP_KEY, "urlact", server.url("/rel/manifest.xml"))
        box.set_setting(APP_KEY, "version", "1.0")
        record = os.path.join(box.app_dir, ".mubax-staging", "record.txt")

        def first_part_recorded():
            try:
                with open(record, encoding="utf-8") as text:
                    first = next(line for line in text if line.startswith("doc\t"))
            except (OSError, StopIteration):
                return False
            fields = first.split("\t")
            return fields[1] == "0" and fields[2] != "0"  # cut, with bytes on the disk

        updater = subprocess.Popen(box.command(program("mubax-updater")), env=updater_env(box))
        assert wait_for(first_part_recorded, 60)
        updater.kill()
        updater.wait(30)
        assert not os.path.exists(os.path.join(box.app_dir, "uno.dll"))
        run_updater(box)
        for name, data in files.items():
            assert read(os.path.join(box.app_dir, name)) == data, name
        assert read(main_executable(box)) == read(new_main)
        assert not os.path.exists(os.path.join(box.app_dir, ".mubax-staging"))
        statuses = server.statuses("/rel/comp1-")
        assert statuses[-1] == (200 if gzip_copies else 206), statuses
    finally:
        server.close()

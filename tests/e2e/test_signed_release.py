"""Signed releases with the real programs: mubax-publish makes keys and signs, the updater (with
a key file beside its executable) installs what the key signed and nothing else. The finer
cases (expiry, replay, garbled signatures) are rows of the engine's own table."""

import os
import shutil

import pytest

from conftest import TARGET, program, updater_env, wait_for
from sandbox import APP_KEY
from test_publish import EXE, install_old_main, read, serve, tool, write_sources
from test_updater import log_lines

import subprocess

REFUSED = "Manifiesto rechazado "


def keygen(box, directory, name):
    key = os.path.join(directory, name)
    outcome = tool(box, "keygen", "--out", box.native_path(key))
    assert outcome.status == 0, outcome
    assert oct(os.stat(key).st_mode & 0o777) == "0o600" or TARGET == "windows"
    return key


def flip_digit(path, marker):
    data = bytearray(read(path))
    at = data.index(marker) + len(marker) + 3
    data[at] = ord("1") if data[at] != ord("1") else ord("2")
    with open(path, "wb") as out:
        out.write(bytes(data))


ROWS = {
    # name: (signing key, change to the published release, refusal text or None)
    "signed by key A": ("a", None, None),
    "signed by key B, the build trusts both": ("b", None, None),
    "one byte of the manifest changed": (
        "a", lambda out: flip_digit(out / "manifest.xml", b"<tamcomp1>"),
        "La firma no corresponde al manifiesto"),
    "one byte of a file document changed": (
        "a", lambda out: flip_digit(out / "comp1-uno.dll.xml", b"<fichero>"),
        "Un fichero no corresponde a su huella S256: no se instala nada"),
    "a document swapped for another of the release": (
        "a", lambda out: shutil.copyfile(out / "comp2-dos.dat.xml", out / "comp1-uno.dll.xml"),
        "Un fichero no corresponde a su huella S256: no se instala nada"),
    "signed by an unknown key": ("c", None, "Firma de una clave no reconocida"),
    "no signature file": ("a", lambda out: os.remove(out / "manifest.xml.sig"),
                          "Sin fichero de firma"),
}


@pytest.mark.parametrize("row", list(ROWS))
def test_the_updater_installs_only_what_a_trusted_key_signed(box, server, tmp_path, row):
    signer, change, refusal = ROWS[row]
    keys = {name: keygen(box, str(tmp_path), f"key-{name}") for name in "abc"}
    files = {"uno.dll": os.urandom(3000), "dos.dat": bytes(range(256)) * 4}
    paths = write_sources(tmp_path / "src", files)
    new_main = tmp_path / "src" / ("pos" + EXE)
    new_main.write_bytes(read(program("fake_main_app")) + b"signed release")
    out = tmp_path / "release"
    arguments = ["app", "--version", "2.0", "--base-url", server.url("/rel"),
                 "--out", box.native_path(str(out)), "--main", box.native_path(str(new_main)),
                 "--sign-key", box.native_path(keys[signer]), "--expires", "1h"]
    for name, path in paths.items():
        arguments += ["--component", f"{box.native_path(path)}={name}"]
    published = tool(box, *arguments)
    assert published.status == 0, published
    if change:
        change(out)
    serve(server, out)

    # The updater trusts keys A and B through the key file beside its executable.
    bin_dir = os.path.join(box.root, "bin")
    os.makedirs(bin_dir)
    updater = os.path.join(bin_dir, os.path.basename(program("mubax-updater")))
    shutil.copyfile(program("mubax-updater"), updater)
    os.chmod(updater, 0o755)
    with open(os.path.join(bin_dir, "mubax-release-keys.txt"), "wb") as trusted:
        trusted.write(read(keys["a"] + ".pub") + read(keys["b"] + ".pub"))

    install_old_main(box)
    old_main = read(os.path.join(box.app_dir, "pos" + EXE))
    box.set_setting(APP_KEY, "urlact", server.url("/rel/manifest.xml"))
    box.set_setting(APP_KEY, "version", "1.0")
    open(os.path.join(box.app_dir, "logUpdate.txt"), "wb").close()
    subprocess.run(box.command(updater), env=updater_env(box), timeout=180)
    assert wait_for(lambda: os.path.exists(box.started_file))

    lines = log_lines(box)
    if refusal is None:
        for name, data in files.items():
            assert read(os.path.join(box.app_dir, name)) == data, name
        assert read(os.path.join(box.app_dir, "pos" + EXE)) == new_main.read_bytes()
        assert not any(line.startswith(REFUSED) for line in lines), lines
        # Each document crossed the line once: staged, checked from the disk, installed from it.
        documents = [path for path in server.requests if path.endswith(".xml") and
                     not path.endswith("/manifest.xml")]
        assert sorted(documents) == sorted(set(documents)) and len(documents) == 3, documents
    else:
        assert sorted(os.listdir(box.app_dir)) == sorted(["pos" + EXE, "logUpdate.txt"])
        assert read(os.path.join(box.app_dir, "pos" + EXE)) == old_main
        assert REFUSED + refusal in lines, lines


def test_sign_renews_and_verify_names_the_failing_file(box, tmp_path):
    key = keygen(box, str(tmp_path), "release.key")
    paths = write_sources(tmp_path / "src", {"uno.dll": b"uno" * 100, "pos.exe": b"MZ" * 50})
    out = tmp_path / "release"
    published = tool(box, "library", "--version", "3.0", "--base-url", box.native_path(str(out)),
                     "--out", box.native_path(str(out)),
                     "--library", f"{box.native_path(paths['pos.exe'])}=C:\\MUBAX\\lib.dll",
                     "--extra", f"{box.native_path(paths['uno.dll'])}=C:\\MUBAX\\uno.dll",
                     "--sign-key", box.native_path(key))
    assert published.status == 0, published
    manifest = box.native_path(str(out / "manifest.xml"))
    before = read(out / "manifest.xml")
    first_signature = read(out / "manifest.xml.sig")
    renewed = tool(box, "sign", manifest, "--sign-key", box.native_path(key), "--expires", "2d")
    assert renewed.status == 0, renewed
    assert read(out / "manifest.xml") == before
    assert read(out / "manifest.xml.sig") != first_signature

    checked = tool(box, "verify", manifest, "--public-key", box.native_path(key + ".pub"))
    assert checked.status == 0, checked
    assert checked.lines[1].startswith("signature: valid (key "), checked

    flip_digit(out / "extra1-uno.dll.xml", b"<fichero>")
    tampered = tool(box, "verify", manifest, "--public-key", box.native_path(key + ".pub"))
    assert tampered.status == 1
    verdicts = tampered.verdicts()
    # Which problem it is, the engine reports as a value (FileReportsTest).
    assert verdicts["extra1-uno.dll.xml"][3].startswith("would NOT install: "), verdicts
    assert verdicts["library-pos.exe.xml"][3] == "would install"

    other = keygen(box, str(tmp_path), "other")
    unknown = tool(box, "verify", manifest, "--public-key", box.native_path(other + ".pub"))
    assert unknown.status == 1
    assert unknown.lines[1].startswith("signature: REFUSED: signed by a key that is not trusted")
    # keygen never replaces a key.
    assert tool(box, "keygen", "--out", box.native_path(key)).status == 1

#!/usr/bin/env python3
"""Writes one benchmark release into a directory: a library manifest (mode TRANSPARENTE) whose
files are random bytes, each carried as a file document, and the bytes themselves (file.bin, or
files/N.bin) for the comparison programs. With --gzip every document also gets a .gz beside
it, as the release tool writes them, for a server that serves precompressed documents; without,
every program receives the same plain bytes.

    make_release.py OUT_DIR BASE_URL DEST_DIR SIZE COUNT [--gzip]

SIZE bytes per file, COUNT files (the last one is the library file, the others additional
files). DEST_DIR is where the updater will write them, as the updater's platform spells it
(Z:\\tmp\\x under Wine)."""
import gzip
import os
import pathlib
import sys

DECLARATION = '<?xml version="1.0" encoding="UTF-8"?>\n'


def entry(name, size, address, destination, extra=""):
    return (f"  <{name}>\n{extra}    <tamfichero>{size}</tamfichero>\n"
            f"    <urldescarga>{address}</urldescarga>\n"
            f"    <destFichero>{destination}</destFichero>\n  </{name}>\n")


def write_document(path, content, compressed):
    text = (DECLARATION + "<documento><fichero>" + content.hex().upper() +
            "</fichero></documento>\n").encode("ascii")
    path.write_bytes(text)
    if compressed:
        path.with_name(path.name + ".gz").write_bytes(gzip.compress(text, compresslevel=6))


def main():
    out, base, dest_dir, size, count = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4]), int(sys.argv[5])
    compressed = sys.argv[6:] == ["--gzip"]
    out = pathlib.Path(out)
    (out / "files").mkdir(parents=True, exist_ok=True)
    separator = "\\" if "\\" in dest_dir else "/"
    manifest = DECLARATION + "<actualizacion>\n" + f"  <fichAdicionales>{count - 1}</fichAdicionales>\n"
    for number in range(1, count + 1):
        content = os.urandom(size)
        (out / "files" / f"{number}.bin").write_bytes(content)
        write_document(out / f"{number}.xml", content, compressed)
        address = f"{base}/{number}.xml"
        destination = f"{dest_dir}{separator}{number}.bin"
        if number < count:
            manifest += entry(f"fichAdic{number}", size + 1, address, destination)
        else:
            manifest += entry("actLibreria", size + 1, address, destination,
                              extra="    <versionLib>bench</versionLib>\n")
    manifest += "</actualizacion>\n"
    (out / "manifest.xml").write_text(manifest, encoding="utf-8")
    if compressed:
        (out / "manifest.xml.gz").write_bytes(gzip.compress(manifest.encode("utf-8")))


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets into fuzz/corpus/<target>/: real release manifests
of both modes as the release tool writes them, file documents, and the hostile shapes the updater
must survive (deep nesting, NUL references, DOCTYPEs, mixed content, other encodings).
Run it again after changing it; the files are kept in the tree."""
import pathlib
import subprocess
import tempfile

ROOT = pathlib.Path(__file__).resolve().parent / "corpus"
BASE = "http://fuzz.invalid/"
# Must match fuzz_engine.cpp: the separator between the manifest and the documents, and the flags.
SEPARATOR = b"\n--8<--\n"
FLAG_LOGGING = 1
FLAG_INSTALLED_VERSION = 2  # installed version "1.0"

DECLARATION = '<?xml version="1.0" encoding="UTF-8"?>\n'


def document(hex_text):
    return DECLARATION + "<documento><fichero>" + hex_text + "</fichero></documento>\n"


def app_manifest(version, components, main_address=None, default_size="10", count=None):
    lines = [DECLARATION, "<actualizacion>\n", f"  <version>{version}</version>\n"]
    lines.append(f"  <componentes>{len(components) if count is None else count}</componentes>\n")
    lines.append(f"  <tamfichero>{default_size}</tamfichero>\n")
    for number, (size, address, destination) in enumerate(components, start=1):
        if size is not None:
            lines.append(f"  <tamcomp{number}>{size}</tamcomp{number}>\n")
        lines.append(f"  <urlcomp{number}>{address}</urlcomp{number}>\n")
        lines.append(f"  <destcomp{number}>{destination}</destcomp{number}>\n")
    if main_address is not None:
        lines.append(f"  <urldescarga>{main_address}</urldescarga>\n")
    lines.append("</actualizacion>\n")
    return "".join(lines)


def entry(name, size, address, destination, extra=""):
    return (f"  <{name}>\n{extra}    <tamfichero>{size}</tamfichero>\n"
            f"    <urldescarga>{address}</urldescarga>\n"
            f"    <destFichero>{destination}</destFichero>\n  </{name}>\n")


def library_manifest(version, extras, activex, library):
    text = DECLARATION + "<actualizacion>\n" + f"  <fichAdicionales>{len(extras)}</fichAdicionales>\n"
    for number, (size, address, destination) in enumerate(extras, start=1):
        text += entry(f"fichAdic{number}", size, address, destination)
    text += entry("actActiveX", *activex)
    text += entry("actLibreria", *library, extra=f"    <versionLib>{version}</versionLib>\n"
                  "    <firma>ABCDEF0123456789</firma>\n")
    return text + "</actualizacion>\n"


def nested(depth, inner):
    return "<a>" * depth + inner + "</a>" * depth


def doc(number):
    return f"{BASE}{number}.xml"


APP_RELEASE = app_manifest("1.3", [(4, doc(1), "uno.dll"), (4, doc(2), "datos/informes.dat")],
                           doc(3))
LIBRARY_RELEASE = library_manifest("2.0", [(3, doc(1), "C:\\MUBAX\\idioma\\es.txt")],
                                   (4, doc(2), "C:\\MUBAX\\pinpad.ocx"),
                                   (4, doc(3), "C:\\MUBAX\\mubax.dll"))
MIXED_RELEASE = library_manifest("2.1", [(10, doc(1), "es.txt")], (10, doc(2), "pinpad.ocx"),
                                 (10, doc(3), "mubax.dll"))
DEEP_DOCUMENT = DECLARATION + "<documento><fichero>" + nested(300, "4142") + "</fichero></documento>\n"
NUL_DOCUMENT = document("414243&#0;4445")
DOCTYPE_DOCUMENT = (DECLARATION + '<!DOCTYPE documento [<!ENTITY h "4142">]>\n'
                    "<documento><fichero>&h;43</fichero></documento>\n")
MIXED_DOCUMENT = (DECLARATION + "<documento>\n  <fichero>\n 41<!-- c --><![CDATA[42]]><b>43</b>"
                  "&#x34;4\n  </fichero>\n</documento>\n")


def engine_input(flags, manifest, documents):
    parts = [manifest.encode()] + [d if isinstance(d, bytes) else d.encode() for d in documents]
    return bytes([flags]) + SEPARATOR.join(parts)


def engine_seeds():
    flags = FLAG_LOGGING | FLAG_INSTALLED_VERSION
    refusals = app_manifest("1.4", [
        (2, doc(1), "too-small.bin"),          # 3 bytes over a limit of 2
        (None, doc(2), "odd.bin"),             # odd text
        ("", doc(3), "empty-limit.bin"),       # present but empty limit
        (10, doc(4), "../../escaped.txt"),     # a destination above the directory
        (10, doc(9), "unserved.bin"),          # a document nobody serves
        (10, doc(5), ""),                      # empty destination
    ], main_address="", count="2147483647")
    return {
        "app_release": engine_input(flags, APP_RELEASE,
                                    [document("756E6F"), document("756E6F"),
                                     document("4D5A900068656C6C6F")]),
        "library_release": engine_input(FLAG_LOGGING, LIBRARY_RELEASE,
                                        [document("6573"), document("6F6378"), document("6C6962")]),
        "same_version": engine_input(flags, app_manifest("1.0", [(4, doc(1), "uno.dll")], doc(2)),
                                     [document("756E6F"), document("00")]),
        "refusals": engine_input(flags, refusals,
                                 [document("414243"), document("ABC"), document("00"),
                                  document("6573"), document("6573")]),
        "nul_reference": engine_input(flags, APP_RELEASE, [NUL_DOCUMENT, document("41&#0;"),
                                                           NUL_DOCUMENT]),
        "deep_nesting": engine_input(flags, DECLARATION + "<actualizacion><version>"
                                     + nested(300, "1.5") + "</version><tamfichero>100</tamfichero><urldescarga>"
                                     + doc(1) + "</urldescarga></actualizacion>\n",
                                     [DEEP_DOCUMENT]),
        "doctype": engine_input(flags, DECLARATION + '<!DOCTYPE actualizacion [<!ENTITY v "1.6">]>'
                                "<actualizacion><version>&v;</version><tamfichero>100</tamfichero><urldescarga>" + doc(1)
                                + "</urldescarga></actualizacion>\n", [DOCTYPE_DOCUMENT]),
        "mixed_content": engine_input(0, MIXED_RELEASE, [MIXED_DOCUMENT, MIXED_DOCUMENT,
                                                           document(" 6C 69 62 ")]),
        "self_document": engine_input(flags, app_manifest(
            "1.7", [], main_address=BASE + "manifest.xml", default_size="100000").replace(
                "</actualizacion>", "<fichero>4142</fichero></actualizacion>"), []),
    }


def xml_seeds():
    latin1 = ('<?xml version="1.0" encoding="ISO-8859-1"?>\n<actualizacion><version>1.\xe9'
              '</version></actualizacion>\n').encode("latin-1")
    utf16 = ("\ufeff" + DECLARATION.replace("UTF-8", "UTF-16")
             + "<actualizacion><version>2.0</version></actualizacion>\n").encode("utf-16-le")
    laughs = (DECLARATION + '<!DOCTYPE actualizacion [<!ENTITY a "aaaa"><!ENTITY b "&a;&a;&a;">]>'
              "<actualizacion><version>&b;</version></actualizacion>\n")
    return {
        "app_manifest.xml": APP_RELEASE,
        "library_manifest.xml": LIBRARY_RELEASE,
        "file_document.xml": document("4D5A900068656C6C6F"),
        "deep_nesting.xml": DEEP_DOCUMENT,
        "deep_manifest.xml": "<actualizacion><version>" + nested(2000, "1.0")
                             + "</version></actualizacion>",
        "nul_reference.xml": NUL_DOCUMENT,
        "doctype.xml": DOCTYPE_DOCUMENT,
        "entities.xml": laughs,
        "mixed_content.xml": MIXED_DOCUMENT,
        "attributes.xml": '<actualizacion version="9"><tamcomp7 a="1">5</tamcomp7>'
                          "<tamcomp007>1</tamcomp007><urlcomp2147483647/><fichAdic1/>"
                          "</actualizacion>",
        "latin1.xml": latin1,
        "utf16.xml": utf16,
        "two_roots.xml": "<a/><b/>",
        "text_outside.xml": "text<actualizacion/>",
    }


def hex_seeds():
    return {
        "empty": b"",
        "upper": b"4D5A900068656C6C6F",
        "lower": b"4d5a900068656c6c6f",
        "all_digits": b"0123456789abcdefABCDEF",
        "odd": b"ABC",
        "not_hex": b"4G",
        "nul_inside": b"41\x0042",
        "spaces": b"\n 41 42 \n",
        "high_bytes": bytes(range(0x80, 0x100)),
    }


def file_document_seeds():
    """Byte 0 picks the size limit (below 128: 1 + value % 64 bytes), byte 1 the piece size."""
    small, large, one_byte_pieces, seven_byte_pieces = b"\x03", b"\xff", b"\x00", b"\x06"
    documents = {
        "plain": document("4D5A9000"),
        "spaced": '<r>\n <fichero>\n  4D5A \n</fichero>\n</r>',
        "descendants": "<r><fichero>4D<x>5A<y>90</y></x>00</fichero></r>",
        "cdata": "<r><fichero>4D<![CDATA[5A]]><x/><![CDATA[ ]]></fichero></r>",
        "space_runs": "<r><fichero>4D<x/>  \r\n<y/>5A<!-- c -->  <?p x?>\n90</fichero></r>",
        "space_reference": "<r><fichero>4D<x/>&#32;<y/>5A</fichero></r>",
        "references": "<r><fichero>&#x34;D&#53;A</fichero></r>",
        "two_children": "<r><fichero>4D</fichero><fichero>5A</fichero></r>",
        "deeper_namesake": "<r><x><fichero>4D</fichero></x><fichero>5A</fichero></r>",
        "root_named": "<fichero>4D5A</fichero>",
        "empty": "<r><fichero> </fichero></r>",
        "odd": "<r><fichero>4D5</fichero></r>",
        "windows_1252": b'<?xml version="1.0" encoding="windows-1252"?><r><fichero>4D\x80\xe9</fichero></r>',
        "utf16": b"\xff\xfe" + "<r><fichero>4D5A</fichero></r>".encode("utf-16-le"),
        "deep": nested(257, "<fichero>4D</fichero>"),
        "doctype": "<!DOCTYPE r><r><fichero>4D</fichero></r>",
        "nul_reference": "<r><fichero>4D&#0;</fichero></r>",
        "duplicate_attribute": '<r a="1" a="2"><fichero>4D</fichero></r>',
    }
    seeds = {}
    for name, content in documents.items():
        data = content if isinstance(content, bytes) else content.encode()
        seeds[name] = large + seven_byte_pieces + data
        seeds[name + "_small_limit"] = small + one_byte_pieces + data
    return seeds


def zstd_patch(base, result, *options):
    """A patch as the zstd command makes one with --patch-from (Debian's zstd package)."""
    with tempfile.TemporaryDirectory() as scratch:
        folder = pathlib.Path(scratch)
        (folder / "base").write_bytes(base)
        (folder / "result").write_bytes(result)
        subprocess.run(["zstd", "-q", "-f", *options, "--patch-from=" + str(folder / "base"),
                        str(folder / "result"), "-o", str(folder / "patch")], check=True)
        return (folder / "patch").read_bytes()


def delta_input(piece, base, patch):
    # Must match fuzz_delta_patch.cpp: piece size - 1, the base's length (2 bytes), base, patch.
    return bytes([piece - 1, len(base) & 0xFF, len(base) >> 8]) + base + patch


def delta_patch_seeds():
    base = bytes((i * 31 + (i >> 8)) & 0xFF for i in range(20000))
    changed = base[:9000] + b"a one-line change" + base[9000:]
    patch = zstd_patch(base, changed, "-19", "--long")
    wrong_base = bytes(reversed(base))
    return {
        "applies": delta_input(64, base, patch),
        "applies_byte_by_byte": delta_input(1, base, patch),
        "wrong_base": delta_input(64, wrong_base, patch),
        "no_base": delta_input(64, b"", zstd_patch(b"", changed)),
        "truncated": delta_input(64, base, patch[:-5]),
        "trailing_bytes": delta_input(64, base, patch + b"\x00"),
        "two_frames": delta_input(64, base, patch + patch),
    }


def write(target, seeds):
    directory = ROOT / target
    directory.mkdir(parents=True, exist_ok=True)
    for name, content in seeds.items():
        data = content if isinstance(content, bytes) else content.encode()
        (directory / name).write_bytes(data)


def main():
    write("fuzz_engine", engine_seeds())
    write("fuzz_xml_document", xml_seeds())
    write("fuzz_hex_decoder", hex_seeds())
    write("fuzz_file_document", file_document_seeds())
    write("fuzz_delta_patch", delta_patch_seeds())


if __name__ == "__main__":
    main()

#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Builds the program's version block (a VS_VERSIONINFO block, as resource
compilers write it: UTF-16 keys and strings, every child aligned to 32 bits)
from a small description file, and writes it as raw bytes, as a C++ source that
places it in the ELF section ".pling.version" of the executable it is linked
into, or both.

Description file, one statement per line ('#' starts a comment line):

    fileversion 1.0.4.5          fixed file version (four numbers 0..65535)
    productversion 1.0.4.5       fixed product version (default: the file version)
    filetype app                 app or dll (default app)
    translation 0409 04E4        one entry of \\VarFileInfo\\Translation (language,
                                 code page; hex); repeat for several, in order
    [040904E4]                   starts a string table; the lines after it,
    Key = Value                  up to the next [...], are its strings (UTF-8)

Run: gen-version.py DESCRIPTION [--bin OUT.bin] [--cpp OUT.cpp] [--set KEY=VALUE ...]
--set replaces (or adds) a string in every string table.
"""

import argparse
import struct
import sys

SECTION = ".pling.version"
VS_FFI_SIGNATURE = 0xFEEF04BD
VS_FFI_STRUCVERSION = 0x00010000
VS_FFI_FILEFLAGSMASK = 0x0000003F
VOS_NT_WINDOWS32 = 0x00040004
FILE_TYPES = {"app": 1, "dll": 2}


class DescriptionError(Exception):
    pass


def pad4(data):
    return data + b"\0" * (-len(data) % 4)


def node(key, value, value_length, is_text, children=()):
    """One block node: header, key, padding, value, padding, children."""
    body = pad4(struct.pack("<HHH", 0, 0, 0) + (key + "\0").encode("utf-16-le")) + value
    for child in children:
        body = pad4(body) + child
    header = struct.pack("<HHH", len(body), value_length, 1 if is_text else 0)
    return header + body[6:]


def string_node(key, text):
    value = (text + "\0").encode("utf-16-le")
    return node(key, value, len(value) // 2, True)


def version_pair(numbers):
    return (numbers[0] << 16 | numbers[1], numbers[2] << 16 | numbers[3])


def parse_version(text, line_number):
    parts = text.split(".")
    try:
        numbers = [int(p) for p in parts]
    except ValueError:
        numbers = []
    if len(numbers) != 4 or any(n < 0 or n > 0xFFFF for n in numbers):
        raise DescriptionError(f"line {line_number}: a version is four numbers 0..65535: {text!r}")
    return numbers


def parse_description(lines, overrides):
    file_version = None
    product_version = None
    file_type = FILE_TYPES["app"]
    translations = []
    tables = []  # [(name, [(key, value)])]
    for number, raw in enumerate(lines, 1):
        line = raw.strip()
        if not line or line.startswith("#"):
            continue
        if line.startswith("["):
            if not line.endswith("]") or len(line) < 3:
                raise DescriptionError(f"line {number}: a table name stands in brackets")
            tables.append((line[1:-1], []))
            continue
        if tables:
            key, sep, value = line.partition("=")
            if not sep or not key.strip():
                raise DescriptionError(f"line {number}: expected Key = Value")
            tables[-1][1].append((key.strip(), value.strip()))
            continue
        words = line.split()
        if words[0] == "fileversion" and len(words) == 2:
            file_version = parse_version(words[1], number)
        elif words[0] == "productversion" and len(words) == 2:
            product_version = parse_version(words[1], number)
        elif words[0] == "filetype" and len(words) == 2 and words[1] in FILE_TYPES:
            file_type = FILE_TYPES[words[1]]
        elif words[0] == "translation" and len(words) == 3:
            try:
                language, codepage = int(words[1], 16), int(words[2], 16)
            except ValueError:
                language = codepage = -1
            if not (0 <= language <= 0xFFFF and 0 <= codepage <= 0xFFFF):
                raise DescriptionError(f"line {number}: translation LANG CODEPAGE, in hex")
            translations.append((language, codepage))
        else:
            raise DescriptionError(f"line {number}: unknown statement {line!r}")
    if file_version is None:
        raise DescriptionError("no fileversion")
    if product_version is None:
        product_version = file_version
    for key, value in overrides:
        for _, strings in tables:
            for i, (existing, _) in enumerate(strings):
                if existing == key:
                    strings[i] = (key, value)
                    break
            else:
                strings.append((key, value))
    return file_version, product_version, file_type, translations, tables


def build_block(file_version, product_version, file_type, translations, tables):
    fixed = struct.pack("<13I", VS_FFI_SIGNATURE, VS_FFI_STRUCVERSION,
                        *version_pair(file_version), *version_pair(product_version),
                        VS_FFI_FILEFLAGSMASK, 0, VOS_NT_WINDOWS32, file_type, 0, 0, 0)
    children = []
    if tables:
        string_tables = [node(name, b"", 0, True, [string_node(k, v) for k, v in strings])
                         for name, strings in tables]
        children.append(node("StringFileInfo", b"", 0, True, string_tables))
    if translations:
        value = b"".join(struct.pack("<HH", lang, cp) for lang, cp in translations)
        children.append(node("VarFileInfo", b"", 0, True,
                             [node("Translation", value, len(value), False)]))
    block = node("VS_VERSION_INFO", fixed, len(fixed), False, children)
    if len(block) > 0xFFFF:
        raise DescriptionError("the version block is larger than 64 KiB")
    return block


def cpp_source(block, description):
    rows = []
    for i in range(0, len(block), 16):
        rows.append("    " + ", ".join(f"0x{b:02X}" for b in block[i:i + 16]) + ",")
    return (
        f"// Generated by scripts/gen-version.py from {description}; do not edit.\n"
        "// The program's version block, in a section of its own where the version\n"
        "// functions of the platform layer find it in the program file.\n"
        "#include <cstddef>\n\n"
        "namespace pling::platform {\n\n"
        f"[[gnu::used, gnu::retain, gnu::section(\"{SECTION}\"), gnu::aligned(4)]]\n"
        f"extern const unsigned char kEmbeddedVersionBlock[{len(block)}] = {{\n"
        + "\n".join(rows) + "\n};\n\n}  // namespace pling::platform\n")


def main():
    parser = argparse.ArgumentParser(description="Builds a version block.")
    parser.add_argument("description")
    parser.add_argument("--bin")
    parser.add_argument("--cpp")
    parser.add_argument("--set", action="append", default=[], metavar="KEY=VALUE")
    args = parser.parse_args()
    overrides = []
    for item in args.set:
        key, sep, value = item.partition("=")
        if not sep or not key:
            parser.error(f"--set wants KEY=VALUE: {item!r}")
        overrides.append((key, value))
    try:
        with open(args.description, encoding="utf-8") as f:
            block = build_block(*parse_description(f.read().splitlines(), overrides))
    except (OSError, DescriptionError) as e:
        print(f"gen-version.py: {args.description}: {e}", file=sys.stderr)
        return 1
    if args.bin:
        with open(args.bin, "wb") as f:
            f.write(block)
    if args.cpp:
        with open(args.cpp, "w", encoding="utf-8") as f:
            f.write(cpp_source(block, args.description.replace("\\", "/").split("/")[-1]))
    return 0


if __name__ == "__main__":
    sys.exit(main())

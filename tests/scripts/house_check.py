#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""The house rules a machine can check: every C++ source is formatted as
.clang-format says, and no include runs up or across the layers that
docs/layers.md lists (nor does the core, or the command line, include Qt).

Usage: house_check.py SOURCE_ROOT [CLANG_FORMAT]
Exit status 0 when the tree keeps the rules; 1 with one line per breach."""
import pathlib
import re
import shutil
import subprocess
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]', re.M)


def layer_steps(doc):
    """{layer: step} from the numbered list of docs/layers.md."""
    steps = {}
    for line in doc.read_text(encoding="utf-8").splitlines():
        m = re.match(r"^(\d+)\.\s+(.+)$", line.strip())
        if m:
            for name in m.group(2).split(","):
                steps[name.strip()] = int(m.group(1))
    return steps


def layer_breaches(root, steps):
    core = max(steps[name] for name in ("mailslot", "settings", "history"))
    breaches = []
    sources = [(p, p.relative_to(root / "src").parts[0]) for p in (root / "src").rglob("*")
               if p.suffix in (".cpp", ".h", ".inc")]
    sources += [(p, "pling-cli") for p in (root / "tools/pling-cli").rglob("*")
                if p.suffix in (".cpp", ".h")]
    for path, layer in sources:
        if layer != "pling-cli" and layer not in steps:
            breaches.append(f"{path.relative_to(root)}: folder src/{layer} is in no step of "
                            "docs/layers.md")
            continue
        # The command line stands on the core, below every Qt layer.
        step = core + 0.5 if layer == "pling-cli" else steps[layer]
        for kind, target in INCLUDE.findall(path.read_text(encoding="utf-8", errors="replace")):
            where = f"{path.relative_to(root)}: includes {target}"
            if kind == "<" and re.match(r"Q[A-Za-z]", target) and step < core + 1:
                breaches.append(f"{where}: Qt in the core")
                continue
            if kind != '"' or "/" not in target:
                continue
            other = target.split("/")[0]
            if other not in steps or other == layer:
                continue
            if steps[other] > step:
                breaches.append(f"{where}: {other} is above {layer}")
            elif steps[other] == step:
                breaches.append(f"{where}: {other} stands on the same step as {layer}")
    return breaches


def format_breaches(root, clang_format):
    files = subprocess.run(["git", "-C", str(root), "ls-files", "*.cpp", "*.h"],
                           capture_output=True, text=True, check=True).stdout.split()
    if not files:
        return []
    run = subprocess.run([clang_format, "--dry-run", "--Werror", *files], cwd=root,
                         capture_output=True, text=True)
    names = sorted({line.split(":")[0] for line in run.stderr.splitlines() if ": error:" in line})
    if run.returncode != 0 and not names:
        return [f"clang-format failed: {run.stderr.strip()[:400]}"]
    return [f"{name}: not formatted as .clang-format says (clang-format -i {name})"
            for name in names]


def main():
    root = pathlib.Path(sys.argv[1]).resolve()
    clang_format = sys.argv[2] if len(sys.argv) > 2 else shutil.which("clang-format")
    breaches = layer_breaches(root, layer_steps(root / "docs/layers.md"))
    if clang_format:
        breaches += format_breaches(root, clang_format)
    else:
        breaches.append("clang-format is missing (package clang-format)")
    for line in breaches:
        print(line)
    return 1 if breaches else 0


if __name__ == "__main__":
    sys.exit(main())

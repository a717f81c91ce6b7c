#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Turns NEWS.md into the release history the packages carry: the AppStream
metainfo's <releases> element, or the Debian changelog.

NEWS.md holds one section per release, newest first: a heading
`## VERSION (YYYY-MM-DD)` and its notes, one `- ` item each (an item may go on
over indented lines).

Run: gen-releases.py NEWS.md --metainfo OUT.xml
     gen-releases.py NEWS.md --changelog OUT --version V --maintainer M [--snapshot TEXT --date RFC2822]
With --changelog, a version that is not a release of NEWS.md gets an entry of
its own first (TEXT, dated DATE), above the releases' entries.
"""

import argparse
import datetime
import re
import sys
import textwrap
from xml.sax.saxutils import escape

HEADING = re.compile(r"^## (\S+) \((\d{4}-\d{2}-\d{2})\)\s*$")


class NewsError(Exception):
    pass


def parse(lines):
    """[(version, date, [note, ...])], newest first."""
    releases = []
    for number, line in enumerate(lines, 1):
        heading = HEADING.match(line)
        if heading:
            try:
                datetime.date.fromisoformat(heading.group(2))
            except ValueError as e:
                raise NewsError(f"line {number}: {e}") from None
            releases.append((heading.group(1), heading.group(2), []))
        elif line.startswith("## "):
            raise NewsError(f"line {number}: a release heading is '## VERSION (YYYY-MM-DD)'")
        elif not releases:
            continue
        elif line.startswith("- "):
            releases[-1][2].append(line[2:].strip())
        elif line.startswith("  ") and line.strip() and releases[-1][2]:
            releases[-1][2][-1] += " " + line.strip()
        elif line.strip():
            raise NewsError(f"line {number}: a release note is an item starting with '- '")
    if not releases:
        raise NewsError("no release")
    for version, _, notes in releases:
        if not notes:
            raise NewsError(f"release {version} has no notes")
    return releases


def plain(text):
    return text.replace("`", "")


def metainfo(releases):
    out = ["<releases>"]
    for version, date, notes in releases:
        out.append(f'    <release version="{escape(version)}" date="{date}">')
        out.append("      <description>")
        out.append("        <ul>")
        for note in notes:
            out.append(f"          <li>{escape(plain(note))}</li>")
        out.append("        </ul>")
        out.append("      </description>")
        out.append("    </release>")
    out.append("  </releases>")
    return "\n".join(out)


def entry(version, distribution, notes, maintainer, date):
    body = []
    for note in notes:
        body.extend(textwrap.wrap(plain(note), width=78, initial_indent="  * ",
                                  subsequent_indent="    "))
    return (f"pling ({version}) {distribution}; urgency=medium\n\n" + "\n".join(body) +
            f"\n\n -- {maintainer}  {date}\n")


def rfc2822(day):
    return datetime.datetime.fromisoformat(day + "T12:00:00+00:00").strftime(
        "%a, %d %b %Y %H:%M:%S +0000")


def changelog(releases, version, maintainer, snapshot, date):
    entries = []
    if version not in [v for v, _, _ in releases]:
        if not snapshot or not date:
            raise NewsError(f"version {version} is no release of NEWS.md: "
                            "--snapshot and --date describe it")
        entries.append(entry(version, "UNRELEASED", [snapshot], maintainer, date))
    for release, day, notes in releases:
        entries.append(entry(release, "unstable", notes, maintainer, rfc2822(day)))
    return "\n".join(entries)


def main():
    parser = argparse.ArgumentParser(description="Release history from NEWS.md.")
    parser.add_argument("news")
    parser.add_argument("--metainfo")
    parser.add_argument("--changelog")
    parser.add_argument("--version")
    parser.add_argument("--maintainer")
    parser.add_argument("--snapshot")
    parser.add_argument("--date")
    args = parser.parse_args()
    if args.changelog and not (args.version and args.maintainer):
        parser.error("--changelog needs --version and --maintainer")
    try:
        with open(args.news, encoding="utf-8") as f:
            releases = parse(f.read().splitlines())
        outputs = []
        if args.metainfo:
            outputs.append((args.metainfo, metainfo(releases) + "\n"))
        if args.changelog:
            outputs.append((args.changelog, changelog(releases, args.version, args.maintainer,
                                                      args.snapshot, args.date)))
    except (OSError, NewsError) as e:
        print(f"gen-releases.py: {args.news}: {e}", file=sys.stderr)
        return 1
    for path, text in outputs:
        with open(path, "w", encoding="utf-8") as f:
            f.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main())

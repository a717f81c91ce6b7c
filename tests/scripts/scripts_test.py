#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""The project's scripts, as a user's machine sees them: scripts/setup's run set
holds only what building and running need; no script stops, kills or
reconfigures a process or service by name; the test wrappers give every test
program a private home that they remove afterwards.

Run: scripts_test.py SOURCE_DIR   (CTest runs it; it changes nothing on the machine)
"""
import os
import pathlib
import re
import subprocess
import sys
import unittest

ROOT = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".").resolve()


def listing(*options):
    out = subprocess.run([str(ROOT / "scripts/setup"), *options, "--list"], check=True,
                         capture_output=True, text=True).stdout
    return out.split()


class SetupSets(unittest.TestCase):
    def test_the_run_set_holds_what_the_program_needs_and_no_test_tool(self):
        run = set(listing())
        for needed in ("cmake", "qt6-base-dev", "qt6-wayland", "libqt6svg6",
                       "sound-theme-freedesktop"):
            self.assertIn(needed, run)
        test_only = ("samba", "samba-common-bin", "python3-samba", "tshark", "smbclient",
                     "libgtest-dev", "libgmock-dev", "libbenchmark-dev", "xvfb", "xdotool",
                     "trayer", "imagemagick", "weston", "clang", "iproute2", "lintian")
        self.assertEqual(sorted(run & set(test_only)), [])
        self.assertFalse([p for p in run if "samba" in p or p.startswith("smb")], run)

    def test_the_test_set_adds_the_test_tools_to_the_run_set(self):
        run, test = listing(), listing("--test")
        self.assertEqual(test[:len(run)], run)
        for tool in ("libgtest-dev", "samba", "tshark", "xvfb", "weston"):
            self.assertIn(tool, test)
        self.assertEqual(len(test), len(set(test)), "a package listed twice")

    def test_an_unknown_option_changes_nothing(self):
        result = subprocess.run([str(ROOT / "scripts/setup"), "--bogus"], capture_output=True,
                                text=True)
        self.assertEqual(result.returncode, 2)
        self.assertIn("--bogus", result.stderr)


# Commands that stop, kill or reconfigure processes or services chosen by name,
# which may belong to anyone: a script kills only by the pid of what it started.
FOREIGN_STOPS = [
    (r"\bp?killall\b", "killall"),
    (r"\bpkill\b", "pkill"),
    (r"\bkill\b[^\n;|&]*\$\(\s*(pidof|pgrep)\b", "kill by name"),
    # (daemon-reload only makes the service manager read the unit files again.)
    (r"\bsystemctl\b[^\n;|&]*\b(stop|kill|restart|try-restart|(?<!daemon-)reload|"
     r"reload-or-restart|mask|isolate|enable|set-property)\b", "systemctl"),
    (r"\bservice\s+\S+\s+(stop|restart|reload|force-reload)\b", "service"),
    (r"\binvoke-rc\.d\b", "invoke-rc.d"),
    (r"\bstart-stop-daemon\b[^\n]*--stop", "start-stop-daemon --stop"),
]
# Disabling at boot is allowed only where scripts/setup turns off the services of
# the packages it has just installed itself.
DISABLE = re.compile(r"\b(systemctl\b[^\n;|&]*\bdisable|update-rc\.d\b[^\n;|&]*\bdisable)\b")
# The port holder's own units, which the package installs: what names only them
# (the package's maintainer scripts, the texts that tell the administrator how to
# turn the service on) is the project's own to act on.
OWN_UNITS = re.compile(r"\bpling-holder(-session)?\.(service|socket)\b")
FOREIGN_UNIT = re.compile(r"\b(?!pling-holder)[\w@-]+\.(service|socket)\b")


def own_units_only(line):
    return bool(OWN_UNITS.search(line)) and not FOREIGN_UNIT.search(OWN_UNITS.sub("", line))


def script_files():
    for folder in ("scripts", ".ci", "tests", "tools", "bench", "fuzz", "packaging", "cmake"):
        for path in sorted((ROOT / folder).rglob("*")):
            if not path.is_file() or path.resolve() == pathlib.Path(__file__).resolve():
                continue
            if "corpus" in path.parts or path.suffix in (".svg", ".png", ".bin", ".inc"):
                continue
            try:
                yield path, path.read_text(encoding="utf-8")
            except UnicodeDecodeError:
                continue


class NoForeignStops(unittest.TestCase):
    def test_no_script_stops_or_reconfigures_what_it_did_not_start(self):
        found = []
        for path, text in script_files():
            code = "\n".join(line for line in text.splitlines()
                             if not line.lstrip().startswith(("#", "//")))
            lines = code.splitlines()

            def line_of(match):
                return lines[code.count("\n", 0, match.start())]

            for pattern, what in FOREIGN_STOPS:
                for match in re.finditer(pattern, code):
                    if not own_units_only(line_of(match)):
                        found.append(f"{path.relative_to(ROOT)}: {what}: {match.group(0)!r}")
            if path != ROOT / "scripts/setup":
                for match in DISABLE.finditer(code):
                    if not own_units_only(line_of(match)):
                        found.append(
                            f"{path.relative_to(ROOT)}: disables a service: {match.group(0)!r}")
        self.assertEqual(found, [])

    def test_the_check_sees_a_foreign_stop(self):
        # The patterns catch what they are for (and leave killing by pid alone).
        samples = ['pkill -x nmbd', 'sudo killall smbd', 'kill $(pidof nmbd)',
                   'systemctl stop smbd', 'service nmbd stop', 'invoke-rc.d smbd stop',
                   'systemctl stop pling-holder.service nmbd.service']
        for sample in samples:
            self.assertTrue(any(re.search(p, sample) for p, _ in FOREIGN_STOPS), sample)
        for sample in ['kill "$pid"', 'kill -TERM $child', 'wait "$pid"']:
            self.assertFalse(any(re.search(p, sample) for p, _ in FOREIGN_STOPS), sample)
        # The package's own units may be acted on; another service named beside them may not.
        self.assertTrue(own_units_only("systemctl enable --now pling-holder.service"))
        self.assertFalse(own_units_only("systemctl stop pling-holder.service nmbd.service"))
        self.assertFalse(own_units_only("systemctl stop nmbd"))


class PrivateHome(unittest.TestCase):
    def test_each_wrapper_gives_a_fresh_home_and_removes_it(self):
        probe = ('printf "%s\\n%s\\n%s\\n%s\\n" "$HOME" "$XDG_CONFIG_HOME" "$XDG_CACHE_HOME" '
                 '"$(ls -A "$HOME")"; mkdir -p "$XDG_CONFIG_HOME/pling"; '
                 'touch "$XDG_CONFIG_HOME/pling/registry.reg"; exit 3')
        env = dict(os.environ, HOME="/nonexistent-home", XDG_CONFIG_HOME="/nonexistent-config")
        for wrapper in ("network-off", "isolated-netns"):
            result = subprocess.run([str(ROOT / "tests/support" / wrapper), "sh", "-c", probe],
                                    capture_output=True, text=True, env=env)
            self.assertEqual(result.returncode, 3, wrapper)  # the program's own status
            home, config, cache, contents = (result.stdout.split("\n") + [""] * 4)[:4]
            self.assertNotIn("nonexistent", home + config + cache, wrapper)
            self.assertTrue(config.startswith(home + "/") and cache.startswith(home + "/"))
            self.assertEqual(contents, "", f"{wrapper}: the home was not empty")
            self.assertFalse(os.path.exists(home), f"{wrapper}: {home} was left behind")


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0], "-v"])

#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""The window on the desktops it meets: on a Wayland compositor with only
WAYLAND_DISPLAY set (weston's headless back end); on a Wayland compositor that
gives the keyboard to a window only for a launcher's activation token (sway's
headless back end), where a start with a token and a second start with one
bring the window forward; and on X11 with a StatusNotifierItem host on the
session bus, where its notification-area icon registers as an item and the
item's activation brings the window back. Skipped (exit 77) where weston, sway,
openbox or dbus-daemon are missing.

Run: desktop_test.py BIN_DIR wayland      (needs no display)
     desktop_test.py BIN_DIR activation   (needs no display)
     desktop_test.py BIN_DIR sni          (needs DISPLAY, as under xvfb-run)
"""
import json
import os
import pathlib
import pwd
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

HERE = pathlib.Path(__file__).resolve().parent
SKIP = 77


def wait_for(done, seconds=20):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if done():
            return True
        time.sleep(0.05)
    return done()


class Processes:
    """Programs this test started, ended by their pids when it is over."""

    def __init__(self):
        self.started = []

    def start(self, args, **kwargs):
        process = subprocess.Popen(args, stdin=subprocess.DEVNULL, start_new_session=True, **kwargs)
        self.started.append(process)
        return process

    def end(self):
        for process in reversed(self.started):
            if process.poll() is None:
                process.terminate()
                try:
                    process.wait(10)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.wait()


def kept_modules(env):
    """The environment for pling itself: in the sanitizer build, the libraries it
    unloads stay loaded to its end (PLING_KEEP_MODULES, a preloaded stand-in for
    dlclose), so that a leak report names the library a leak came from."""
    keep = os.environ.get("PLING_KEEP_MODULES")
    if not keep:
        return env
    env = dict(env)
    env["LD_PRELOAD"] = keep
    # The sanitizer's runtime is then not the first library loaded, which it
    # would refuse.
    env["ASAN_OPTIONS"] = ":".join(filter(None, [env.get("ASAN_OPTIONS", ""),
                                                 "verify_asan_link_order=0"]))
    return env


def base_env(work):
    env = {k: v for k, v in os.environ.items()
           if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XDG_CURRENT_DESKTOP",
                        "DBUS_SESSION_BUS_ADDRESS")}
    env.update(HOME=str(work / "home"), XDG_CONFIG_HOME=str(work / "home/.config"),
               PLING_NETWORK="off")
    (work / "home").mkdir()
    # A session of its own: one Pling runs per session, and a Pling the user runs
    # belongs to another.
    runtime = work / "runtime"
    runtime.mkdir(mode=0o700)
    env["XDG_RUNTIME_DIR"] = str(runtime)
    return env


def wayland(bin_dir, work, processes):
    if not shutil.which("weston"):
        print("weston is not installed: skipped")
        return SKIP
    env = base_env(work)
    runtime = pathlib.Path(env["XDG_RUNTIME_DIR"])
    weston = processes.start(["weston", "--backend=headless-backend.so", "--use-pixman",
                              "--socket=pling-test", "--width=1024", "--height=768",
                              "--idle-time=0"], env=env, stdout=subprocess.DEVNULL,
                             stderr=open(work / "weston.log", "w"))
    if not wait_for(lambda: (runtime / "pling-test").exists() or weston.poll() is not None):
        print("weston did not start")
        return 1
    if weston.poll() is not None:
        print("weston ended:", (work / "weston.log").read_text())
        return 1
    # Only WAYLAND_DISPLAY: the platform is Qt's choice. WAYLAND_DEBUG shows the
    # requests the program makes of the compositor.
    env.update(WAYLAND_DISPLAY="pling-test", WAYLAND_DEBUG="client")
    log = work / "pling.log"
    pling = processes.start([str(bin_dir / "pling")], env=kept_modules(env), stdout=subprocess.DEVNULL,
                            stderr=open(log, "w"))
    titled = re.compile(r'xdg_toplevel@\d+\.set_title\("Pling"\)')
    shown = wait_for(lambda: pling.poll() is not None or titled.search(log.read_text(errors="replace")))
    text = log.read_text(errors="replace")
    if pling.poll() is not None:
        print(f"pling ended with {pling.returncode}:\n" + text[-3000:])
        return 1
    if not shown:
        print("no Wayland window titled Pling:\n" + text[-3000:])
        return 1
    # It stays up: the window goes on being served by the compositor.
    time.sleep(2)
    if pling.poll() is not None:
        print(f"pling ended with {pling.returncode} after its window was shown")
        return 1
    text = log.read_text(errors="replace")
    if not re.search(r"wl_surface@\d+\.attach\(wl_buffer@", text):
        print("the window was never given a picture")
        return 1
    pling.terminate()
    status = pling.wait(20)
    if status != 0:
        tail = [l for l in log.read_text(errors="replace").splitlines() if "wl_" not in l and "xdg_" not in l]
        print(f"pling ended with {status} on SIGTERM:\n" + "\n".join(tail[-60:]))
        return 1
    print("ok: the window opened on Wayland with only WAYLAND_DISPLAY set, stayed up, and ended with 0")
    return 0


# One window in front at a time (tabbed), and Pling's window gets the keyboard
# only when it asks for it with a launcher's token: not merely for appearing, as
# where a compositor keeps new windows from taking the focus.
SWAY_CONFIG = """xwayland disable
workspace_layout tabbed
focus_on_window_activation focus
no_focus [app_id="pling"]
"""
OTHER_APP = "org.freedesktop.weston.flower"


def sway_views(env):
    """The compositor's windows by app_id: (focused, visible)."""
    tree = json.loads(subprocess.run(["swaymsg", "-r", "-t", "get_tree"], env=env, capture_output=True,
                                     text=True, timeout=10).stdout or "{}")
    views = {}

    def walk(node):
        if node.get("app_id"):
            views[node["app_id"]] = (node.get("focused"), node.get("visible"))
        for child in node.get("nodes", []) + node.get("floating_nodes", []):
            walk(child)

    walk(tree)
    return views


def activation(bin_dir, work, processes):
    for tool in ("sway", "swaymsg", "weston-flower", "setpriv"):
        if not shutil.which(tool):
            print(f"{tool} is not installed: skipped")
            return SKIP
    env = base_env(work)
    # The compositor's own runtime directory, socket and configuration. It refuses to
    # run as root: there it runs as nobody, who must reach the directory.
    compositor = work / "compositor"
    compositor.mkdir(mode=0o700)
    (compositor / "config").write_text(SWAY_CONFIG)
    as_user = []
    if os.geteuid() == 0:
        try:
            nobody = pwd.getpwnam("nobody")
        except KeyError:
            print("no user nobody to run sway as: skipped")
            return SKIP
        os.chmod(work, 0o711)
        for path in (compositor, compositor / "config"):
            os.chown(path, nobody.pw_uid, nobody.pw_gid)
        as_user = ["setpriv", f"--reuid={nobody.pw_uid}", f"--regid={nobody.pw_gid}", "--clear-groups"]
    # The headless back end only: no screen, no input devices of the machine.
    sway_env = dict(PATH=os.environ.get("PATH", "/usr/bin:/bin"), HOME=str(compositor),
                    XDG_RUNTIME_DIR=str(compositor), WLR_BACKENDS="headless",
                    WLR_LIBINPUT_NO_DEVICES="1", WLR_RENDERER="pixman", WLR_HEADLESS_OUTPUTS="1")
    sway = processes.start(as_user + ["sway", "-c", str(compositor / "config")], env=sway_env,
                           stdout=subprocess.DEVNULL, stderr=open(work / "sway.log", "w"))

    def sockets():
        display = [p for p in compositor.glob("wayland-*") if p.suffix != ".lock"]
        ipc = list(compositor.glob("sway-ipc.*.sock"))
        if display and ipc:
            env.update(WAYLAND_DISPLAY=str(display[0]), SWAYSOCK=str(ipc[0]))
            return subprocess.run(["swaymsg", "-t", "get_version"], env=env, capture_output=True,
                                  timeout=10).returncode == 0
        return sway.poll() is not None

    if not wait_for(sockets) or sway.poll() is not None:
        print("sway did not start:", (work / "sway.log").read_text()[-3000:])
        return 1
    env["QT_QPA_PLATFORM"] = "wayland"

    def token():
        made = subprocess.run(["/usr/bin/python3", str(HERE / "activation_token.py"), "pling"], env=env,
                              capture_output=True, text=True, timeout=10)
        if made.returncode != 0 or not made.stdout.strip():
            raise SystemExit(f"no activation token: {made.stderr}")
        return made.stdout.strip()

    def in_front(app_id):
        return lambda: sway_views(env).get(app_id) == (True, True)

    # Another window in front, with the keyboard.
    processes.start(["weston-flower"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if not wait_for(in_front(OTHER_APP)):
        print("the other window did not come up:", sway_views(env))
        return 1
    # Started with a token, as from the desktop's menu: the new window comes to the
    # front with the keyboard.
    log = open(work / "pling.log", "w")
    pling = processes.start([str(bin_dir / "pling")],
                            env=kept_modules(dict(env, XDG_ACTIVATION_TOKEN=token())),
                            stdout=subprocess.DEVNULL, stderr=log)
    if not wait_for(in_front("pling"), 60):
        print("the first start's window did not come forward with its token:", sway_views(env),
              (work / "pling.log").read_text()[-3000:])
        return 1
    # The other window in front again; a second start with a token brings the first
    # one's window forward.
    subprocess.run(["swaymsg", f'[app_id="{OTHER_APP}"] focus'], env=env, capture_output=True, timeout=10)
    if not wait_for(in_front(OTHER_APP)):
        print("the other window did not come to the front:", sway_views(env))
        return 1
    second = subprocess.run([str(bin_dir / "pling")], env=kept_modules(dict(env, XDG_ACTIVATION_TOKEN=token())),
                            capture_output=True, text=True, timeout=60)
    if second.returncode != 0:
        print(f"the second start ended with {second.returncode}:", second.stdout, second.stderr[-3000:])
        return 1
    if not wait_for(in_front("pling")):
        print("the second start's token did not bring the window forward:", sway_views(env))
        return 1
    pling.terminate()
    status = pling.wait(20)
    if status != 0:
        print(f"pling ended with {status} on SIGTERM:", (work / "pling.log").read_text()[-3000:])
        return 1
    print("ok: with a launcher's activation token the window comes to the front with the keyboard,"
          " at its first start and when started again")
    return 0


def sni(bin_dir, work, processes):
    for tool in ("openbox", "dbus-daemon", "xdotool", "xprop", "xwininfo"):
        if not shutil.which(tool):
            print(f"{tool} is not installed: skipped")
            return SKIP
    if not os.environ.get("DISPLAY"):
        print("no DISPLAY: skipped")
        return SKIP
    env = base_env(work)
    env["DISPLAY"] = os.environ["DISPLAY"]
    bus = processes.start(["dbus-daemon", "--session", "--nofork", "--print-address"], env=env,
                          stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    env["DBUS_SESSION_BUS_ADDRESS"] = bus.stdout.readline().strip()
    watcher = processes.start(["/usr/bin/python3", str(HERE / "sni_watcher.py")], env=env,
                              stdout=subprocess.PIPE, text=True)
    if watcher.stdout.readline().strip() != "ready":
        print("the StatusNotifierItem host did not start")
        return 1
    # A window manager, so that the window can be minimised into the notification area.
    processes.start(["openbox"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def managed():
        check = subprocess.run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], env=env,
                               capture_output=True, text=True).stdout
        return "window id" in check

    if not wait_for(managed):
        print("the window manager did not start")
        return 1
    pling = processes.start([str(bin_dir / "pling")], env=kept_modules(env), stdout=subprocess.DEVNULL,
                            stderr=open(work / "pling.log", "w"))
    window = None

    def visible():
        nonlocal window
        found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^Pling$"],
                               env=env, capture_output=True, text=True, timeout=10).stdout.split()
        window = found[0] if found else None
        return window is not None or pling.poll() is not None

    wait_for(visible, 30)
    if window is None or pling.poll() is not None:
        tree = subprocess.run(["xwininfo", "-root", "-tree"], env=env, capture_output=True,
                              text=True).stdout
        print("no window:", (work / "pling.log").read_text(), tree)
        return 1
    subprocess.run(["xdotool", "windowminimize", "--sync", window], env=env, timeout=30, check=True)
    # The minimised window's icon registers with the host.
    line = watcher.stdout.readline().split()
    if len(line) != 3 or line[0] != "item":
        print("no StatusNotifierItem registered:", line)
        return 1
    service, path = line[1], line[2]
    props = subprocess.run(["dbus-send", "--session", "--print-reply", f"--dest={service}", path,
                            "org.freedesktop.DBus.Properties.GetAll",
                            "string:org.kde.StatusNotifierItem"],
                           env=env, capture_output=True, text=True, timeout=10).stdout
    flat = " ".join(props.split())
    for name, value in (("Status", "Active"), ("Title", "Pling")):
        if f'string "{name}" variant string "{value}"' not in flat:
            print(f"the item's {name} is not {value}:\n{props}")
            return 1
    if 'string "IconPixmap" variant array [ struct {' not in flat:
        print(f"the item shows no icon:\n{props}")
        return 1
    # The host's activation (a click on the item) brings the window back, as a
    # double click on an X11 tray icon does.
    subprocess.run(["dbus-send", "--session", "--print-reply", f"--dest={service}", path,
                    "org.kde.StatusNotifierItem.Activate", "int32:10", "int32:10"],
                   env=env, capture_output=True, timeout=10, check=True)

    def viewable():
        info = subprocess.run(["xwininfo", "-id", window], env=env, capture_output=True,
                              text=True).stdout
        return "IsViewable" in info

    if not wait_for(viewable, 10):
        print("activating the item did not bring the window back")
        return 1
    print("ok: the minimised window's icon is a StatusNotifierItem titled Pling, with its"
          " picture, and activating it brings the window back")
    return 0


def main():
    bin_dir = pathlib.Path(sys.argv[1]).resolve()
    case = sys.argv[2]
    processes = Processes()
    work = pathlib.Path(tempfile.mkdtemp(prefix="pling-desktop-"))
    try:
        return {"wayland": wayland, "activation": activation, "sni": sni}[case](bin_dir, work, processes)
    finally:
        processes.end()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    sys.exit(main())

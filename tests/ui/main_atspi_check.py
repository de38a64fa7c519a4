# SPDX-License-Identifier: GPL-3.0-or-later
"""Drives the running program through the desktop accessibility bus, as a screen reader
would: finds the main window's controls by their names and presses "->>".

Usage (inside a private D-Bus session): python3 main_atspi_check.py PROGRAM
Exit codes: 0 passed, 1 failed, 77 the accessibility bus or display could not start.
"""
import os
import subprocess
import sys
import time

SKIP = 77


def start_display():
    read_fd, write_fd = os.pipe()
    xvfb = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
        pass_fds=(write_fd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_fd)
    number = b""
    deadline = time.time() + 20
    while time.time() < deadline and not number.endswith(b"\n"):
        chunk = os.read(read_fd, 16)
        if not chunk:
            break
        number += chunk
    os.close(read_fd)
    if not number.strip():
        xvfb.kill()
        return None, None
    return xvfb, ":" + number.decode().strip()


def walk(node, out, depth=0):
    out.append(node)
    if depth > 60:
        return
    for i in range(node.childCount):
        child = node.getChildAtIndex(i)
        if child is not None:
            walk(child, out, depth + 1)


def find_app(pyatspi, pid, timeout=30):
    deadline = time.time() + timeout
    while time.time() < deadline:
        for app in pyatspi.Registry.getDesktop(0):
            try:
                if app is not None and app.get_process_id() == pid:
                    return app
            except Exception:
                pass
        time.sleep(0.3)
    return None


def wait_for(condition, timeout=15):
    deadline = time.time() + timeout
    while time.time() < deadline:
        if condition():
            return True
        time.sleep(0.2)
    return False


def window_title(display, pid):
    """The title that the desktop shows for the program's visible window (_NET_WM_NAME),
    or None when the X tools to read it are missing."""
    env = dict(os.environ, DISPLAY=display)
    try:
        ids = subprocess.run(["xdotool", "search", "--onlyvisible", "--pid", str(pid)],
                             env=env, capture_output=True, text=True, timeout=10).stdout.split()
        for wid in ids:
            out = subprocess.run(["xprop", "-id", wid, "_NET_WM_NAME"], env=env,
                                 capture_output=True, text=True, timeout=10).stdout
            if "=" in out:
                return out.split("=", 1)[1].strip().strip('"')
    except (OSError, subprocess.TimeoutExpired):
        return None
    return None


def main():
    program = sys.argv[1]
    try:
        import pyatspi
    except ImportError:
        print("pyatspi is not installed")
        return SKIP
    if not os.environ.get("DBUS_SESSION_BUS_ADDRESS"):
        print("no D-Bus session bus")
        return SKIP

    xvfb, display = start_display()
    if not xvfb:
        print("Xvfb could not start")
        return SKIP
    bus = subprocess.Popen(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"],
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    env = dict(os.environ, DISPLAY=display, QT_QPA_PLATFORM="xcb",
               QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_ACCESSIBILITY="1",
               ASAN_OPTIONS="detect_leaks=0")
    app_proc = subprocess.Popen([program], env=env, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)
    try:
        app = find_app(pyatspi, app_proc.pid)
        if app is None:
            print("the program never appeared on the accessibility bus")
            return SKIP

        def nodes():
            out = []
            walk(app, out)
            return out

        def named(role, name):
            for n in nodes():
                try:
                    if n.getRoleName() == role and n.name == name and \
                            n.getState().contains(pyatspi.STATE_SHOWING):
                        return n
                except Exception:
                    pass
            return None

        failures = []
        title = window_title(display, app_proc.pid)
        if title is not None and title != " Tandrel 1.1":
            failures.append("the desktop shows the title %r, expected ' Tandrel 1.1'" % title)
        wanted = [("push button", "->"), ("push button", "->>"), ("push button", "<-"),
                  ("push button", "<<-"), ("push button", "Send"),
                  ("push button", "Attachments"), ("push button", "New Mail"),
                  ("tree", "Available"), ("tree", "Receipients"), ("list", "Fields"),
                  ("text", "From:"), ("text", "To:"), ("text", "Subject:"),
                  ("text", "Mail text")]
        if not wait_for(lambda: named("push button", "->>") is not None):
            failures.append("the button ->> was not found")
        for role, name in wanted:
            if named(role, name) is None:
                # Editors may be announced as entries depending on the toolkit version.
                if not (role == "text" and (named("entry", name) or named("paragraph", name))):
                    failures.append("not found: %s %r" % (role, name))
        preview = [n for n in nodes() if n.name == "Preview mail"]
        if not preview:
            failures.append("not found: 'Preview mail'")

        available = named("tree", "Available")
        receipients = named("tree", "Receipients")
        if available is None or receipients is None:
            print("\n".join(failures))
            return 1
        people = available.queryTable().nRows
        if people != 3:
            failures.append("Available shows %d people, expected 3" % people)
        if receipients.queryTable().nRows != 0:
            failures.append("Receipients is not empty at start")

        move_all = named("push button", "->>")
        action = move_all.queryAction()
        names = [action.getName(i) for i in range(action.nActions)]
        press = names.index("Press") if "Press" in names else 0
        action.doAction(press)
        if not wait_for(lambda: receipients.queryTable().nRows == 3):
            failures.append("->> through the accessibility interface moved %d people, expected 3"
                            % receipients.queryTable().nRows)
        if not wait_for(lambda: any(n.name == "3 of 3 receipients selected" for n in nodes())):
            failures.append("the status bar does not read '3 of 3 receipients selected'")

        if failures:
            print("\n".join(failures))
            return 1
        print("accessibility check passed")
        return 0
    finally:
        app_proc.terminate()
        try:
            app_proc.wait(10)
        except subprocess.TimeoutExpired:
            app_proc.kill()
        bus.terminate()
        xvfb.terminate()


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/python3
"""What a screen reader learns of a running program, through AT-SPI.

    atspi-client.py PID tree    its windows, one accessible a line:
                                depth, role, name, description, value, focused
    atspi-client.py PID watch   prints "ready", then each new description of
                                its progress bar, then the first dialog it
                                shows, as a tree, and ends

Lines are tab-separated; the program is found by its process id.
"""
import sys
import time

import pyatspi


def application(pid, seconds=30):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        desktop = pyatspi.Registry.getDesktop(0)
        for i in range(desktop.childCount):
            app = desktop.getChildAtIndex(i)
            try:
                if app is not None and app.get_process_id() == pid and app.childCount > 0:
                    return app
            except Exception:  # an application that went away meanwhile
                pass
        time.sleep(0.1)
    sys.exit("no accessible application with process id %d" % pid)


def line(node, depth):
    try:
        value = str(node.queryValue().currentValue)
    except NotImplementedError:
        value = ""
    focused = node.getState().contains(pyatspi.STATE_FOCUSED)
    fields = [str(depth), node.getRoleName(), node.name, node.description, value, "focused" if focused else ""]
    return "\t".join(field.replace("\t", " ").replace("\n", "\\n") for field in fields)


def walk(node, depth=0):
    yield line(node, depth)
    for i in range(node.childCount):
        child = node.getChildAtIndex(i)
        if child is not None:
            yield from walk(child, depth + 1)


def find(node, role):
    if node.getRoleName() == role:
        return node
    for i in range(node.childCount):
        child = node.getChildAtIndex(i)
        found = find(child, role) if child is not None else None
        if found is not None:
            return found
    return None


DIALOG_ROLES = {"dialog", "alert", "file chooser"}


def dialog(app):
    for i in range(app.childCount):
        window = app.getChildAtIndex(i)
        if window is not None and window.getRoleName() in DIALOG_ROLES:
            return window
    return None


def watch(app, seconds=120):
    bar = find(app, "progress bar")
    print("ready", flush=True)
    seen = None
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        description = bar.description
        if description != seen:
            print("description\t" + description, flush=True)
            seen = description
        shown = dialog(app)
        if shown is not None:
            for entry in walk(shown):
                print(entry, flush=True)
            return
        time.sleep(0.02)
    sys.exit("no dialog appeared")


def main():
    pid, mode = int(sys.argv[1]), sys.argv[2]
    app = application(pid)
    if mode == "tree":
        for i in range(app.childCount):
            window = app.getChildAtIndex(i)
            if window is not None:
                for entry in walk(window):
                    print(entry)
    else:
        watch(app)


main()

"""Finds a running program's controls through the desktop accessibility bus
(AT-SPI), as a screen reader or a test automation tool does, and presses
one of them through its accessibility action.

    atspi_check.py --app NAME --window CAPTION --expect ROLE:NAME ... \
                   [--press NAME --box-title TITLE --box-text TEXT]

Finds the application NAME and its window CAPTION, then every expected
control by its accessible name and role. With --press it presses that
button through its action and waits for a box titled TITLE showing TEXT,
then dismisses the box through its OK button's action. Every wait is
bounded; exits 1 naming what is missing or wrong.
"""

import argparse
import signal
import sys
import time

import pyatspi


def fail(message):
    print("FAIL: " + message)
    sys.exit(1)


def wait_for(what, find, seconds):
    """Calls find() until it gives something, for at most `seconds`."""
    deadline = time.monotonic() + seconds
    while True:
        try:
            found = find()
        except Exception:  # a node that went away while it was read
            found = None
        if found:
            return found
        if time.monotonic() > deadline:
            fail(f"{what} did not appear within {seconds} s")
        time.sleep(0.2)


def children(node):
    for i in range(node.childCount):
        child = node.getChildAtIndex(i)
        if child is not None:
            yield child


def descendants(node, depth=0):
    for child in children(node):
        yield child
        if depth < 8:
            yield from descendants(child, depth + 1)


def application(name):
    desktop = pyatspi.Registry.getDesktop(0)
    return next((a for a in children(desktop) if a.name == name), None)


def top_level(app, role_names, title):
    return next((w for w in children(app) if w.getRoleName() in role_names and w.name == title), None)


def press(node):
    action = node.queryAction()
    names = [action.getName(i) for i in range(action.nActions)]
    for i, name in enumerate(names):
        if name.lower() in ("press", "click"):
            action.doAction(i)
            return name
    fail(f"{node.name!r} has no press action (it has {names})")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--app", required=True)
    parser.add_argument("--window", required=True)
    parser.add_argument("--expect", nargs="+", required=True, metavar="ROLE:NAME")
    parser.add_argument("--press")
    parser.add_argument("--box-title")
    parser.add_argument("--box-text")
    args = parser.parse_args()
    # Whatever happens on the bus, the check ends.
    signal.alarm(90)

    app = wait_for(f"the application {args.app!r} on the accessibility bus", lambda: application(args.app), 30)
    window = wait_for(f"the window {args.window!r}", lambda: top_level(app, ("frame", "window", "filler"),
                                                                          args.window), 15)
    expected = [tuple(e.split(":", 1)) for e in args.expect]

    def all_found():
        seen = {}
        for node in descendants(window):
            seen.setdefault((node.getRoleName(), node.name), node)
        return seen if all(e in seen for e in expected) else None

    try:
        seen = wait_for("every control", all_found, 10)
    except SystemExit:
        seen = {}
        for node in descendants(window):
            seen.setdefault((node.getRoleName(), node.name), node)
        missing = [f"{role} {name!r}" for role, name in expected if (role, name) not in seen]
        have = sorted(f"{role} {name!r}" for role, name in seen)
        fail(f"not found by name and role: {', '.join(missing)}; the window shows: {', '.join(have)}")
    print(f"{args.window}: found all {len(expected)} controls by name and role:")
    for role, name in expected:
        print(f"  {role:12} {name}")

    if not args.press:
        return
    button = seen[("push button", args.press)]
    print(f"pressed {args.press} through its accessibility action {press(button)!r}")
    box = wait_for(f"a box titled {args.box_title!r}",
                   lambda: top_level(app, ("dialog", "alert"), args.box_title), 15)
    texts = [n.name for n in descendants(box) if n.getRoleName() == "label"]
    if args.box_text not in texts:
        fail(f"the box {args.box_title!r} shows {texts}, not {args.box_text!r}")
    print(f"report box appeared: {box.getRoleName()} {box.name!r} showing {args.box_text!r}")
    ok = wait_for("the box's OK button",
                  lambda: next((n for n in descendants(box) if n.getRoleName() == "push button"), None), 5)
    press(ok)
    wait_for("the box to close", lambda: top_level(app, ("dialog", "alert"), args.box_title) is None, 10)
    print("report box dismissed through its OK button's action")


if __name__ == "__main__":
    main()

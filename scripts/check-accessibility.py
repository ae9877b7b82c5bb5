#!/usr/bin/python3
"""Reads the windows of a running vellumcast as a screen reader does, through AT-SPI: each
window and control has a name of its own, nothing shares a name with anything else read
out (the lists' column headers included), and the save mode reads by its name with the
chosen mode selected. Presses "Start Exporting To Text Files" to check the results window
as well. Run by scripts/check-accessibility.sh, which starts the program under Xvfb with
a session bus; exits 1 and lists every finding when one is found."""

import sys
import time

import pyatspi

# What a person reaches or reads: these need a name. Fillers and scroll panes are
# containers, scroll bars belong to their views, and cells and list items are named by
# their text.
NAMED_ROLES = {"frame", "push button", "radio button", "check box", "combo box", "text", "tree", "table",
               "progress bar", "label", "panel", "list"}
# Besides the named controls, what is read out by name and must not repeat one.
READ_ROLES = NAMED_ROLES | {"table column header"}


def wait_for(what, find, seconds=30):
    end = time.time() + seconds
    while time.time() < end:
        found = find()
        if found:
            return found
        time.sleep(0.2)
    sys.exit(f"check-accessibility: {what} did not appear")


def application():
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        if app is not None and app.name == "Vellumcast":
            return app
    return None


def walk(node, parent_role=""):
    yield node, parent_role
    role = node.getRoleName()
    for i in range(node.childCount):
        child = node.getChildAtIndex(i)
        if child is not None:
            yield from walk(child, role)


def find(root, role, name=None):
    for node, _ in walk(root):
        if node.getRoleName() == role and (name is None or node.name == name):
            return node
    return None


def showing(node):
    return node.getState().contains(pyatspi.STATE_SHOWING)


def main():
    findings = []
    app = wait_for("the program", application)
    frames = lambda: [app.getChildAtIndex(i) for i in range(app.childCount)]
    main_window = wait_for("the main window", lambda: [f for f in frames() if f and showing(f)])[0]

    start = wait_for("the start button", lambda: find(main_window, "push button", "Start Exporting To Text Files"))
    mode = find(main_window, "combo box")
    if mode is None or mode.name != "Save mode":
        findings.append(f"the save-mode box reads as {mode.name if mode else None!r}, not 'Save mode'")
    else:
        modes = mode.getChildAtIndex(0)
        chosen = [modes.getChildAtIndex(i).name for i in range(modes.childCount)
                  if modes.getChildAtIndex(i).getState().contains(pyatspi.STATE_SELECTED)]
        if chosen != ["Save each sheet to a text file"]:
            findings.append(f"the save-mode box's chosen mode reads {chosen!r}")

    start.queryAction().doAction(0)
    wait_for("the results window", lambda: len([f for f in frames() if f and showing(f)]) == 1
             and not showing(main_window))
    if len(frames()) != 2:
        findings.append(f"{len(frames())} windows instead of 2")

    names = {}
    for node, parent_role in walk(app):
        role = node.getRoleName()
        if role not in READ_ROLES or (role == "list" and parent_role == "combo box"):
            continue
        if not node.name.strip():
            findings.append(f"a {role} without a name (in a {parent_role})")
            continue
        names.setdefault(node.name, []).append(role)
    for name, roles in names.items():
        if len(roles) > 1:
            findings.append(f"{len(roles)} objects named {name!r}: {', '.join(roles)}")
    for frame in frames():
        if frame.getRoleName() != "frame" or frame.name == "Vellumcast":
            findings.append(f"a window read as a {frame.getRoleName()} named {frame.name!r}")
    for wanted in ("Results", "Text of the selected result", "Output folder", "Preview", "Workbooks to export"):
        if wanted not in names:
            findings.append(f"nothing named {wanted!r}")

    for finding in findings:
        print("check-accessibility:", finding, file=sys.stderr)
    print(f"check-accessibility: {len(names)} names read, {len(findings)} findings")
    return 1 if findings else 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
# Typing into the find field of a running Quillora, as a user does, read over AT-SPI.
#   bench/find_typing.py PID QUERY
# The window's thread answers every AT-SPI call, so the round trip of a call made again as
# soon as the last one returned is how long the event loop was held, plus the call's own
# cost. Those round trips are measured for 2 s with the window idle (the floor), then while
# QUERY is typed into the find field with real keys at 10 a second, until the full count is
# shown. Prints one line: the longest round trip idle and while typing, in ms, and the time
# from the last key to the first match shown (the count reading "1 of ..." and the viewer
# holding the query's first word).
import subprocess
import sys
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402

# Rows of the list are never walked: there may be 300,000 of them.
LISTS = {Atspi.Role.TREE, Atspi.Role.TREE_TABLE, Atspi.Role.TABLE, Atspi.Role.LIST}


def application(pid, timeout=60):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        desktop = Atspi.get_desktop(0)
        for i in range(desktop.get_child_count()):
            app = desktop.get_child_at_index(i)
            if app is not None and app.get_process_id() == pid:
                return app
        time.sleep(0.2)
    sys.exit(f"find_typing: no application with pid {pid} on the accessibility bus")


def widgets(node):
    yield node
    if node.get_role() in LISTS:
        return
    for i in range(node.get_child_count()):
        child = node.get_child_at_index(i)
        if child is not None:
            yield from widgets(child)


def text_of(node):
    return Atspi.Text.get_text(node, 0, -1)


def name_of(node):
    Atspi.Accessible.clear_cache(node)
    return node.get_name()


def main():
    pid, query = int(sys.argv[1]), sys.argv[2]
    app = application(pid)
    field = viewer = count = None
    for node in widgets(app):
        name, role = node.get_name(), node.get_role()
        if name == "Find" and role in (Atspi.Role.ENTRY, Atspi.Role.TEXT):
            field = node
        elif name == "Note viewer":
            viewer = node
    if field is None or viewer is None:
        sys.exit("find_typing: no find field or no viewer")
    # The count is the label beside the field.
    bar = field.get_parent()
    for i in range(bar.get_child_count()):
        node = bar.get_child_at_index(i)
        if node is not None and node.get_role() == Atspi.Role.LABEL:
            count = node
    if count is None:
        sys.exit("find_typing: no count beside the find field")

    # Every call below is timed: the longest round trip since `longest` was last reset.
    longest = 0.0

    def timed(call, *args):
        nonlocal longest
        started = time.monotonic()
        result = call(*args)
        longest = max(longest, time.monotonic() - started)
        return result

    def longest_round_trip(until):
        nonlocal longest
        longest = 0.0
        while not until():
            timed(Atspi.Text.get_character_count, field)
        return longest * 1000

    idle_end = time.monotonic() + 2
    idle = longest_round_trip(lambda: time.monotonic() > idle_end)

    subprocess.run(["xdotool", "key", "ctrl+f"], check=True)
    # All keys but the last at 10 a second; the last one is sent alone, to know its time.
    typing = subprocess.Popen(["xdotool", "type", "--delay", "100", query[:-1]])
    last_key = None
    first_match = None
    word = query.split()[0].lower()

    def shown():
        nonlocal last_key, first_match
        now = time.monotonic()
        if last_key is None:
            if typing.poll() is None:
                return False
            subprocess.run(["xdotool", "type", query[-1]], check=True)
            last_key = time.monotonic()
            return False
        label = timed(name_of, count)
        if first_match is None:
            if " of " in label and word in timed(text_of, viewer).lower():
                first_match = time.monotonic()
            return now - last_key > 30
        # The full count: no "…" left.
        return "\u2026" not in label or now - last_key > 30

    held = longest_round_trip(shown)
    subprocess.run(["xdotool", "key", "Escape"], check=True)
    if first_match is None:
        sys.exit("find_typing: no match shown 30 s after the last key")
    print(f"{idle:.1f} {held:.1f} {(first_match - last_key) * 1000:.1f}")


main()

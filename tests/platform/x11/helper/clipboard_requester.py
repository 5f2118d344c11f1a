# Another X client that asks the clipboard owner for formats in a given order,
# as a toolkit does on a paste, driven over stdin/stdout by the x11 tests.
# It prints "ready <window id>" (a window of its own connection), then takes
# commands, one per line:
#   ask <ms> <format> [<ms> <format> ...]
#       for each pair, blocks for <ms>, then asks for <format> and prints
#       {"format": ..., "length": n, "text": ...} as one line of JSON (length
#       -1 and text null when the owner refused); then prints "done"
#   ask-busy <ms> <format>
#       asks for <format>, then blocks its main loop for <ms> before it reads
#       the answer, so a transfer in parts waits on it meanwhile; prints the
#       answer as above, then "done"
import hashlib
import json
import os
import sys
import time

import gi

gi.require_version("Gdk", "3.0")
gi.require_version("GdkX11", "3.0")
gi.require_version("Gtk", "3.0")
from gi.repository import Gdk, GdkX11, GLib, Gtk  # noqa: E402,F401

# Long answers are reported by their digest alone.
TEXT_LIMIT = 4096


def say(line):
    sys.stdout.write(line + "\n")
    sys.stdout.flush()


clipboard = Gtk.Clipboard.get(Gdk.SELECTION_CLIPBOARD)
window = Gtk.Invisible()
window.realize()


def report(name, data):
    if data is None or data.get_length() < 0:
        say(json.dumps({"format": name, "length": -1, "text": None}))
        return
    raw = data.get_data() or b""
    answer = {"format": name, "length": len(raw), "sha256": hashlib.sha256(raw).hexdigest()}
    answer["text"] = raw.decode("utf-8", "replace") if len(raw) <= TEXT_LIMIT else None
    say(json.dumps(answer))


def ask(delay_ms, name):
    time.sleep(delay_ms / 1000.0)
    report(name, clipboard.wait_for_contents(Gdk.Atom.intern(name, False)))


def ask_busy(busy_ms, name):
    def received(_clipboard, data, *_):
        report(name, data)
        say("done")

    clipboard.request_contents(Gdk.Atom.intern(name, False), received)
    Gdk.Display.get_default().flush()
    time.sleep(busy_ms / 1000.0)


pending = b""


def on_input(source, _condition):
    global pending
    chunk = os.read(source, 4096)
    if not chunk:
        Gtk.main_quit()
        return False
    pending += chunk
    while b"\n" in pending:
        line, pending = pending.split(b"\n", 1)
        words = line.decode().split()
        if words and words[0] == "ask":
            steps = words[1:]
            for i in range(0, len(steps) - 1, 2):
                ask(int(steps[i]), steps[i + 1])
            say("done")
        elif len(words) == 3 and words[0] == "ask-busy":
            ask_busy(int(words[1]), words[2])
    return True


GLib.io_add_watch(sys.stdin.fileno(), GLib.IO_IN | GLib.IO_HUP, on_input)
say("ready %d" % window.get_window().get_xid())
Gtk.main()

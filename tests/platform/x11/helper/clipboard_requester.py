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
#   abandon <format>
#       asks for <format> from the window it printed, takes the first part of
#       the transfer in parts that answers, and reads no further; prints
#       {"format": ..., "announced": n, "first_part": m} (n the length the
#       owner announced and m that of the part taken, -1 when the answer came
#       whole or was refused), then "done"
#   ask-window <format>
#       asks for <format> from the window it printed, the same one each time,
#       as GTK's clipboard asks from one window of its own; prints the answer
#       as above, then "done"
import ctypes
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


# A transfer in parts goes on each time the requestor deletes the property
# holding the latest part, so a requestor that stops deleting leaves the owner
# waiting. GDK's own property reading cannot be called from Python, so the
# property is read and deleted through Xlib, on a connection of its own.
xlib = ctypes.CDLL("libX11.so.6")
xlib.XOpenDisplay.restype = ctypes.c_void_p
xlib.XOpenDisplay.argtypes = [ctypes.c_char_p]
xlib.XInternAtom.restype = ctypes.c_ulong
xlib.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
xlib.XGetWindowProperty.argtypes = [
    ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_long, ctypes.c_long, ctypes.c_int, ctypes.c_ulong,
    ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.c_int), ctypes.POINTER(ctypes.c_ulong),
    ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.c_void_p)]
xlib.XDeleteProperty.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong]
xlib.XFree.argtypes = [ctypes.c_void_p]
xlib.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
xdisplay = None

SELECTION_PROPERTY = "GDK_SELECTION"
abandoning = None


def take_property(xid):
    """Reads the type of the requestor's property and its first long, if
    any, with the length in bytes, then deletes it."""
    kind = ctypes.c_ulong()
    item_format = ctypes.c_int()
    items = ctypes.c_ulong()
    after = ctypes.c_ulong()
    data = ctypes.c_void_p()
    prop = xlib.XInternAtom(xdisplay, SELECTION_PROPERTY.encode(), 0)
    xlib.XGetWindowProperty(xdisplay, xid, prop, 0, 1, 0, 0, ctypes.byref(kind), ctypes.byref(item_format),
                            ctypes.byref(items), ctypes.byref(after), ctypes.byref(data))
    first = None
    if data.value:
        if items.value:
            first = ctypes.cast(data, ctypes.POINTER(ctypes.c_long))[0]
        xlib.XFree(data)
    length = items.value * item_format.value // 8 + after.value
    xlib.XDeleteProperty(xdisplay, xid, prop)
    xlib.XSync(xdisplay, 0)
    return kind.value, first, length


def abandon(name):
    global abandoning, xdisplay
    if xdisplay is None:
        xdisplay = xlib.XOpenDisplay(None)
    abandoning = {"format": name, "announced": -1, "first_part": -1}
    gdk_window = window.get_window()
    gdk_window.set_events(gdk_window.get_events() | Gdk.EventMask.PROPERTY_CHANGE_MASK)
    Gdk.selection_convert(gdk_window, Gdk.SELECTION_CLIPBOARD, Gdk.Atom.intern(name, False), Gdk.CURRENT_TIME)
    Gdk.Display.get_default().flush()


def finish_abandon():
    global abandoning
    say(json.dumps(abandoning))
    say("done")
    abandoning = None


def on_selection_notify(_widget, event):
    if abandoning is None:
        return False
    # GDK gives the atom None for X's None: a refusal.
    if event.property is not None:
        kind, first, _length = take_property(event.window.get_xid())
        # Deleting the announcement of a transfer in parts asks for the first part.
        if kind == xlib.XInternAtom(xdisplay, b"INCR", 0):
            abandoning["announced"] = first
            return True
    finish_abandon()
    return True


def on_property_notify(_widget, event):
    # Before the announcement of parts is taken, a new value is the answer
    # itself, read once the owner's notice comes.
    if abandoning is None or abandoning["announced"] < 0:
        return False
    if event.atom.name() != SELECTION_PROPERTY or event.state != Gdk.PropertyState.NEW_VALUE:
        return True
    # Taking the first part asks for the next, which is never read.
    _kind, _first, abandoning["first_part"] = take_property(event.window.get_xid())
    finish_abandon()
    return True


window_asks = []


def on_selection_received(_widget, data, _time):
    report(window_asks.pop(0), data)
    say("done")


def ask_window(name):
    window_asks.append(name)
    Gtk.selection_convert(window, Gdk.SELECTION_CLIPBOARD, Gdk.Atom.intern(name, False), Gdk.CURRENT_TIME)
    Gdk.Display.get_default().flush()


window.connect("selection-notify-event", on_selection_notify)
window.connect("property-notify-event", on_property_notify)
window.connect("selection-received", on_selection_received)

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
        elif len(words) == 2 and words[0] == "abandon":
            abandon(words[1])
        elif len(words) == 2 and words[0] == "ask-window":
            ask_window(words[1])
    return True


GLib.io_add_watch(sys.stdin.fileno(), GLib.IO_IN | GLib.IO_HUP, on_input)
say("ready %d" % window.get_window().get_xid())
Gtk.main()

# A GTK 3 text window in its own process, driven over stdin/stdout by the x11
# tests the same way as the Qt text window (TextWindow.cpp). Arguments: the
# widget ("textview" or "entry") and the first text. Commands, one per line:
#   select <start> <end>   selects that range, answers "selected x y w h"
#                          (the widget's frame in root coordinates)
#   text                   answers "text <JSON string>"
#   reset                  puts the first text back and answers "reset"
#   slow-paste <ms>        from now on, a Control-V blocks the main loop that
#                          long before GTK handles it; answers "slow-paste"
#   slow-copy <ms>         the same for Control-C; answers "slow-copy"
#   focused                answers "focused 1" when the window has the
#                          keyboard, "focused 0" otherwise
# It prints "ready <pid>" once the window has the keyboard.
import json
import os
import sys
import time

import gi

gi.require_version("Gdk", "3.0")
gi.require_version("Gtk", "3.0")
from gi.repository import Gdk, GLib, Gtk  # noqa: E402


def say(line):
    sys.stdout.write(line + "\n")
    sys.stdout.flush()


kind = sys.argv[1] if len(sys.argv) > 1 else "textview"
first_text = sys.argv[2] if len(sys.argv) > 2 else ""

window = Gtk.Window(title="Vellox test GTK " + kind)
window.set_default_size(480, 200)
window.move(260, 220)
if kind == "entry":
    widget = Gtk.Entry()
else:
    widget = Gtk.TextView()
window.add(widget)

slow = {"v": 0, "c": 0}


def get_text():
    if kind == "entry":
        return widget.get_text()
    buffer = widget.get_buffer()
    return buffer.get_text(buffer.get_start_iter(), buffer.get_end_iter(), True)


def set_text(text):
    if kind == "entry":
        widget.set_text(text)
    else:
        widget.get_buffer().set_text(text)


def select(start, end):
    widget.grab_focus()
    if kind == "entry":
        widget.select_region(start, end)
    else:
        buffer = widget.get_buffer()
        buffer.select_range(buffer.get_iter_at_offset(start), buffer.get_iter_at_offset(end))


def has_keyboard():
    return window.is_active() and widget.has_focus()


# A busy application: the chord waits in the queue while the main loop does
# other work, so GTK asks for the clipboard that much later.
def on_key(_window, event):
    if event.state & Gdk.ModifierType.CONTROL_MASK:
        name = Gdk.keyval_name(Gdk.keyval_to_lower(event.keyval))
        delay = slow.get(name, 0)
        if delay > 0:
            time.sleep(delay / 1000.0)
    return False


window.connect("key-press-event", on_key)
window.connect("destroy", Gtk.main_quit)
set_text(first_text)
window.show_all()
window.present()
widget.grab_focus()


def wait_for_keyboard():
    if has_keyboard():
        say("ready %d" % os.getpid())
        return False
    window.present()
    widget.grab_focus()
    return True


GLib.timeout_add(50, wait_for_keyboard)

pending = b""


def on_input(source, _condition):
    global pending
    data = os.read(source, 4096)
    if not data:
        Gtk.main_quit()
        return False
    pending += data
    while b"\n" in pending:
        line, pending = pending.split(b"\n", 1)
        words = line.decode().split()
        if not words:
            continue
        if words[0] == "select" and len(words) == 3:
            select(int(words[1]), int(words[2]))
            gdk_window = Gtk.Widget.get_window(widget)
            _, x, y = gdk_window.get_origin() if gdk_window else (0, 0, 0)
            allocation = widget.get_allocation()
            say("selected %d %d %d %d" % (x, y, allocation.width, allocation.height))
        elif words[0] == "reset":
            set_text(first_text)
            say("reset")
        elif words[0] in ("slow-paste", "slow-copy") and len(words) == 2:
            slow["v" if words[0] == "slow-paste" else "c"] = int(words[1])
            say(words[0])
        elif words[0] == "text":
            say("text " + json.dumps([get_text()]))
        elif words[0] == "focused":
            say("focused %d" % (1 if has_keyboard() else 0))
    return True


GLib.io_add_watch(sys.stdin.fileno(), GLib.IO_IN | GLib.IO_HUP, on_input)
Gtk.main()

"""A Wayland test window (GTK 3) of a chosen size, title, app id and colour; prints its
process id once drawn, answers each "color RRGGBB" line "ok" once drawn so."""
import argparse
import os
import sys

import gi

gi.require_version("Gtk", "3.0")
from gi.repository import GLib, Gtk  # noqa: E402

parser = argparse.ArgumentParser()
parser.add_argument("--size", default="640x480")
parser.add_argument("--title", default="")
parser.add_argument("--color", default="3366cc")
parser.add_argument("--app-id", default="TestWindow")
# A client-side shadow: the window lies inside a larger buffer, as a decorated one does.
parser.add_argument("--shadow", action="store_true")
opts = parser.parse_args()
GLib.set_prgname(opts.app_id)
width, height = map(int, opts.size.split("x"))
state = {"color": opts.color, "answer": None}

window = Gtk.Window(title=opts.title)
if opts.shadow:
    window.set_titlebar(Gtk.Box())
else:
    window.set_decorated(False)
window.set_default_size(width, height)
window.set_resizable(False)
style = Gtk.CssProvider()
Gtk.StyleContext.add_provider_for_screen(window.get_screen(), style, Gtk.STYLE_PROVIDER_PRIORITY_APPLICATION)


def paint():
    style.load_from_data(f"window {{ background: #{state['color']}; }} .titlebar {{ min-height: 0; padding: 0; "
                         "margin: 0; border: 0; box-shadow: none; }".encode())


def painted(_):
    if state["answer"]:
        print(state["answer"], flush=True)
        state["answer"] = None


def command(source, _):
    line = source.readline()
    if not line:
        Gtk.main_quit()
        return False
    if line.startswith("color "):
        state["color"], state["answer"] = line[6:].strip(), "ok"
        paint()
    return True


state["answer"] = str(os.getpid())
paint()
window.connect("destroy", Gtk.main_quit)
window.realize()
window.get_frame_clock().connect("after-paint", painted)
GLib.io_add_watch(sys.stdin, GLib.IO_IN | GLib.IO_HUP, command)
window.show_all()
Gtk.main()

"""A Wayland test window (GTK 3) of a chosen size, title, app id and colour; prints its
process id once drawn, answers each "color RRGGBB" line "ok" once drawn so."""
import argparse
import os
import sys

import gi

parser = argparse.ArgumentParser()
for option, default in (("--size", "640x480"), ("--title", ""), ("--color", "3366cc"),
                        ("--class", "TestWindow")):
    parser.add_argument(option, default=default)
# A client-side shadow: the window lies inside a larger buffer, as a decorated one does.
parser.add_argument("--shadow", action="store_true")
opts = parser.parse_args()  # before GTK, which takes --class away for itself
gi.require_version("Gtk", "3.0")
os.environ["GDK_BACKEND"] = "wayland"
from gi.repository import GLib, Gtk  # noqa: E402

GLib.set_prgname(getattr(opts, "class"))
answers = [str(os.getpid())]

window = Gtk.Window(title=opts.title)
if opts.shadow:
    window.set_titlebar(Gtk.Box())
else:
    window.set_decorated(False)
window.set_default_size(*map(int, opts.size.split("x")))
window.set_resizable(False)
style = Gtk.CssProvider()
Gtk.StyleContext.add_provider_for_screen(window.get_screen(), style, Gtk.STYLE_PROVIDER_PRIORITY_APPLICATION)


def paint(color):
    style.load_from_data(f"window {{ background: #{color}; }} .titlebar {{ min-height: 0; padding: 0; "
                         "margin: 0; border: 0; box-shadow: none; }".encode())


def painted(_):
    if answers:
        print(answers.pop(), flush=True)


def command(source, _):
    line = source.readline()
    if not line:
        Gtk.main_quit()
        return False
    answers.append("ok")
    paint(line.split()[-1])
    return True


paint(opts.color)
window.realize()
window.get_frame_clock().connect("after-paint", painted)
GLib.io_add_watch(sys.stdin, GLib.IO_IN | GLib.IO_HUP, command)
window.show_all()
Gtk.main()

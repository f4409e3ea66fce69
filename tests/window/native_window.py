"""A test Wayland client: one GTK window of a chosen size, title, colour and app id, run by
window_clients.py under the process name the test chooses. Its title bar takes no
room, so the window is exactly the size asked for and wholly the colour, while its
shadow keeps the window inside a larger buffer, as real windows are. Prints "ready"
once the window is drawn. Standard input takes "color RRGGBB" lines, each answered
"ok" once the window has been drawn in the new colour; end of input quits."""
import argparse
import os

os.environ["GDK_BACKEND"] = "wayland"
import gi  # noqa: E402

gi.require_version("Gdk", "3.0")
gi.require_version("Gtk", "3.0")
from gi.repository import GLib, Gdk, Gtk  # noqa: E402

parser = argparse.ArgumentParser()
parser.add_argument("--size", default="640x480")
parser.add_argument("--title", default="")
parser.add_argument("--color", default="3366cc")
parser.add_argument("--app-id", default="TestWindow")
opts = parser.parse_args()
width, height = map(int, opts.size.split("x"))

style = Gtk.CssProvider()


def paint(color):
    style.load_from_data(f"window {{ background-color: #{color}; }} .titlebar {{ min-height: 0; padding: 0; "
                         "margin: 0; border: 0; box-shadow: none; }".encode())


def when_drawn(then):
    clock = window.get_frame_clock()
    handler = None

    def painted(*_):
        clock.disconnect(handler)
        print(then, flush=True)
    handler = clock.connect("after-paint", painted)
    window.queue_draw()


def command(source, _condition):
    line = source.readline()
    if not line:
        Gtk.main_quit()
        return False
    if line.startswith("color "):
        paint(line[6:].strip())
        when_drawn("ok")
    return True


GLib.set_prgname(opts.app_id)
window = Gtk.Window(title=opts.title)
window.set_titlebar(Gtk.Box())
window.set_default_size(width, height)
Gtk.StyleContext.add_provider_for_screen(Gdk.Screen.get_default(), style, Gtk.STYLE_PROVIDER_PRIORITY_USER)
window.connect("destroy", Gtk.main_quit)
paint(opts.color)
window.connect("realize", lambda _: when_drawn("ready"))
window.show_all()
GLib.io_add_watch(GLib.IOChannel.unix_new(0), GLib.PRIORITY_DEFAULT, GLib.IO_IN | GLib.IO_HUP, command)
Gtk.main()

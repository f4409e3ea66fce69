"""An X test window of a chosen size, place, title, class, colour and type; prints its id
once shown, answers each "color RRGGBB" line "ok" once the server has done it."""
import argparse
import os
import select
import time

from Xlib import X, Xatom, display

parser = argparse.ArgumentParser()
for option, default in (("--size", "640x480"), ("--at", "0,0"), ("--title", None), ("--wm-name", None),
                        ("--class", "TestWindow"), ("--color", "3366cc"), ("--type", None)):
    parser.add_argument(option, default=default)
# --slow-paint: an owner that takes 50 ms to repaint after an Expose.
for flag in ("--unmapped", "--no-pid", "--override-redirect", "--no-background", "--slow-paint"):
    parser.add_argument(flag, action="store_true")
opts = parser.parse_args()
width, height = map(int, opts.size.split("x"))
color = int(opts.color, 16)

x = display.Display()
atom = x.intern_atom
window = x.screen().root.create_window(
    *map(int, opts.at.split(",")), width, height, 0, x.screen().root_depth, X.InputOutput,
    override_redirect=opts.override_redirect, event_mask=X.ExposureMask,
    **({} if opts.no_background else {"background_pixel": color}))
gc = window.create_gc()
if opts.title is not None:
    window.change_property(atom("_NET_WM_NAME"), atom("UTF8_STRING"), 8, opts.title.encode())
if opts.wm_name is not None:
    window.change_property(Xatom.WM_NAME, Xatom.STRING, 8, os.fsencode(opts.wm_name))
window.change_property(Xatom.WM_CLASS, Xatom.STRING, 8, ((getattr(opts, "class") + "\0") * 2).encode())
if not opts.no_pid:
    window.change_property(atom("_NET_WM_PID"), Xatom.CARDINAL, 32, [os.getpid()])
if opts.type:
    window.change_property(atom("_NET_WM_WINDOW_TYPE"), Xatom.ATOM, 32, [atom(name) for name in opts.type.split(",")])


def paint():
    gc.change(foreground=color)
    window.fill_rectangle(gc, 0, 0, width, height)
    x.flush()


if not opts.unmapped:
    window.map()
    while x.next_event().type != X.Expose:
        pass
    paint()
x.sync()
print(window.id, flush=True)
commands = os.fdopen(0, "rb", buffering=0)  # a line at a time: what follows stays for select to see
while True:
    while x.pending_events():
        if x.next_event().type == X.Expose:
            time.sleep(0.05 if opts.slow_paint else 0)
            paint()
    if commands not in select.select([commands, x], [], [])[0]:
        continue
    line = commands.readline()
    if not line:
        break
    color = int(line.split()[-1], 16)
    if not opts.no_background:
        window.change_attributes(background_pixel=color)
    paint()
    x.sync()
    print("ok", flush=True)

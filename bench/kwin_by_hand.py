"""What a user would write by hand against KWin, with GIO's D-Bus (gdbus) from Python:
list the windows through a KWin script that calls back, or capture one window through
ScreenShot2 and turn the raw pixels into a JPEG twice its size with ImageMagick.

    kwin_by_hand.py list
    kwin_by_hand.py capture <internalId> <dest.jpg>

Run under the session's DBUS_SESSION_BUS_ADDRESS; capture needs a .desktop file that
grants this interpreter ScreenShot2.
"""
import json
import os
import subprocess
import sys
import tempfile

import gi

gi.require_version("Gio", "2.0")
from gi.repository import Gio, GLib  # noqa: E402

SCRIPT = """
var listed = workspace.clientList().map(function (w) {
    return {id: String(w.internalId), pid: w.pid, caption: w.caption, resourceClass: String(w.resourceClass),
            width: w.frameGeometry.width, height: w.frameGeometry.height, windowId: w.windowId || 0};
});
callDBus("%s", "/bench", "bench.List", "Windows", JSON.stringify(listed));
"""
INTROSPECTION = Gio.DBusNodeInfo.new_for_xml(
    '<node><interface name="bench.List"><method name="Windows"><arg type="s" direction="in"/></method>'
    '</interface></node>')


def kwin(bus, path, interface, method, args, reply="()"):
    return bus.call_sync("org.kde.KWin", path, interface, method, args, GLib.VariantType(reply),
                         Gio.DBusCallFlags.NONE, 4000, None).unpack()


def list_windows():
    bus = Gio.bus_get_sync(Gio.BusType.SESSION)
    loop = GLib.MainLoop()
    answer = []

    def called(_conn, _sender, _path, _iface, _method, params, invocation):
        answer.append(params.unpack()[0])
        invocation.return_value(None)
        loop.quit()
    bus.register_object("/bench", INTROSPECTION.interfaces[0], called)
    with tempfile.NamedTemporaryFile("w", suffix=".js") as script:
        script.write(SCRIPT % bus.get_unique_name())
        script.flush()
        name = f"by-hand-{os.getpid()}"
        (number,) = kwin(bus, "/Scripting", "org.kde.kwin.Scripting", "loadScript",
                         GLib.Variant("(ss)", (script.name, name)), "(i)")
        kwin(bus, f"/{number}", "org.kde.kwin.Script", "run", None)
        GLib.timeout_add(4000, loop.quit)
        loop.run()
        kwin(bus, "/Scripting", "org.kde.kwin.Scripting", "unloadScript", GLib.Variant("(s)", (name,)), "(b)")
    print(json.dumps(json.loads(answer[0])))


def capture(uuid, dest):
    bus = Gio.bus_get_sync(Gio.BusType.SESSION)
    read_end, write_end = os.pipe()
    fds = Gio.UnixFDList.new_from_array([write_end])
    options = {"include-decoration": GLib.Variant("b", True), "include-cursor": GLib.Variant("b", False)}
    reply, _ = bus.call_with_unix_fd_list_sync(
        "org.kde.KWin", "/org/kde/KWin/ScreenShot2", "org.kde.KWin.ScreenShot2", "CaptureWindow",
        GLib.Variant("(sa{sv}h)", (uuid, options, 0)), GLib.VariantType("(a{sv})"), Gio.DBusCallFlags.NONE,
        4000, fds, None)
    fds.steal_fds()  # the list held our write end: closing it lets the read end see EOF
    os.close(write_end)
    info = reply.unpack()[0]
    with os.fdopen(read_end, "rb") as pipe:
        raw = pipe.read()
    width, height, stride = info["width"], info["height"], info["stride"]
    rows = b"".join(raw[y * stride:y * stride + width * 4] for y in range(height))
    subprocess.run(["convert", "-size", f"{width}x{height}", "-depth", "8", "bgra:-", "-resize", "200%",
                    "-quality", "85", dest], input=rows, check=True)


if __name__ == "__main__":
    if sys.argv[1] == "list":
        list_windows()
    else:
        capture(sys.argv[2], sys.argv[3])

"""A headless GNOME Shell of our own, with XWayland, PipeWire and WirePlumber.

Started as a desktop session starts it, in a fresh folder: dbus-run-session gives
it a session bus; a second bus stands in for the system bus (the Shell otherwise
dies on a stale logind socket); the session's folders are published to the bus's
activation environment (else gsettings writes through a dconf service that does
not see them). Extensions are copied into the session's XDG_DATA_HOME and enabled
before the Shell starts: it reads them only then. A small extension of the
harness's own hides the Overview the Shell starts in, then says the Shell is ready.
WirePlumber runs without its Bluetooth part, as in tevoli_harness.PrivatePipeWire.
"""
import contextlib
import glob
import json
import os
import shutil
import signal
import subprocess
import tempfile

import tevoli_harness

WAYLAND_DISPLAY = "wl-tevoli"
READY_FILE = "shell-ready"

LAUNCH = r"""
export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$XDG_RUNTIME_DIR/system_bus"
dbus-daemon --session --address="$DBUS_SYSTEM_BUS_ADDRESS" --nofork --nopidfile &
while [ ! -S "$XDG_RUNTIME_DIR/system_bus" ]; do sleep 0.05; done
dbus-update-activation-environment XDG_RUNTIME_DIR HOME XDG_DATA_HOME XDG_CONFIG_HOME XDG_CACHE_HOME \
  XDG_STATE_HOME DBUS_SYSTEM_BUS_ADDRESS
echo "$DBUS_SESSION_BUS_ADDRESS" > "$XDG_RUNTIME_DIR/session_bus"
pipewire &
while [ ! -S "$XDG_RUNTIME_DIR/pipewire-0" ]; do sleep 0.05; done
wireplumber &
gsettings set org.gnome.shell enabled-extensions "$1"
echo $$ > "$XDG_RUNTIME_DIR/shell.pid"
exec gnome-shell --headless --wayland --virtual-monitor 1280x720 --wayland-display "$2"
"""

READY_UUID = "shell-ready@tests.tevoli.com"
READY_EXTENSION = r"""
const {GLib} = imports.gi;
const Main = imports.ui.main;

function init() {}

// Windows are painted as themselves, and recorded, only outside the Overview.
function enable() {
    const ready = () => GLib.file_set_contents(`${GLib.get_user_runtime_dir()}/%s`, GLib.getenv('DISPLAY') ?? '');
    const hide = () => {
        Main.overview.connect('hidden', ready);
        Main.overview.hide();
        if (!Main.overview.visible)
            ready();
    };
    if (Main.layoutManager._startingUp)
        Main.layoutManager.connect('startup-complete', hide);
    else
        hide();
}

function disable() {}
""" % READY_FILE


def built_extensions():
    """The Shell extensions of the build tree, which answer the build tree's tevoli-window."""
    folder = os.path.join(os.path.dirname(tevoli_harness.binary("tevoli-window")), os.pardir, "share",
                          "gnome-shell", "extensions")
    return sorted(glob.glob(os.path.join(folder, "*@*")))


def _x11_socket_folder():
    """Mutter refuses a socket folder that is not world-writable and sticky, and makes
    a missing one under the process's umask: give it the mode a booted system gives it."""
    folder = "/tmp/.X11-unix"
    os.makedirs(folder, exist_ok=True)
    if os.stat(folder).st_uid == os.getuid():
        os.chmod(folder, 0o1777)


def _alive(pid):
    """Whether the process runs: an ended one not yet reaped has no command line."""
    try:
        with open(f"/proc/{pid}/cmdline", "rb") as f:
            return bool(f.read())
    except OSError:
        return False


class PrivateGnomeShell:
    """`env` reaches the Shell's session bus, its Wayland display and its XWayland
    display. `extensions` are extension folders, each named by its uuid, installed
    for the session and enabled; `enable` names more to enable, installed already."""

    def __init__(self, extensions=(), enable=()):
        self.extensions = list(extensions)
        self.enable = list(enable)

    def __enter__(self):
        self.dir = tempfile.mkdtemp(prefix="tevoli-gnome-")
        try:
            self._start()
        except BaseException:
            self.__exit__(None, None, None)
            raise
        return self

    def _start(self):
        runtime = os.path.join(self.dir, "run")
        os.mkdir(runtime, 0o700)
        env = {k: v for k, v in os.environ.items()
               if k not in ("DISPLAY", "WAYLAND_DISPLAY", "XAUTHORITY", "DBUS_SESSION_BUS_ADDRESS",
                            "DBUS_SYSTEM_BUS_ADDRESS", "PULSE_SERVER", "PIPEWIRE_RUNTIME_DIR")}
        env.update(XDG_RUNTIME_DIR=runtime, HOME=self.dir,
                   **{f"XDG_{kind}_HOME": os.path.join(self.dir, kind.lower())
                      for kind in ("DATA", "CONFIG", "CACHE", "STATE")})
        installed = os.path.join(env["XDG_DATA_HOME"], "gnome-shell", "extensions")
        for folder in self.extensions:
            shutil.copytree(folder, os.path.join(installed, os.path.basename(folder)))
        ready = os.path.join(installed, READY_UUID)
        os.makedirs(ready)
        with open(os.path.join(ready, "metadata.json"), "w") as f:
            json.dump({"uuid": READY_UUID, "name": "ready", "description": "tests", "shell-version": ["43", "44"]}, f)
        with open(os.path.join(ready, "extension.js"), "w") as f:
            f.write(READY_EXTENSION)
        uuids = [os.path.basename(folder) for folder in self.extensions] + self.enable + [READY_UUID]
        tevoli_harness.write_wireplumber_config(env["XDG_CONFIG_HOME"])
        _x11_socket_folder()
        self.log = open(os.path.join(self.dir, "session.log"), "w")
        self.proc = tevoli_harness.spawn(
            ["dbus-run-session", "--", "sh", "-c", LAUNCH, "sh", json.dumps(uuids).replace('"', "'"), WAYLAND_DISPLAY],
            env=env, stdout=self.log, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
        ready_file = os.path.join(runtime, READY_FILE)
        tevoli_harness.wait_until(lambda: self._running() and os.path.exists(ready_file), 90, 0.1,
                                  what="GNOME Shell")
        with open(ready_file) as f:
            display = f.read()
        with open(os.path.join(runtime, "session_bus")) as f:
            bus = f.read().strip()
        self.env = dict(env, DBUS_SESSION_BUS_ADDRESS=bus, WAYLAND_DISPLAY=WAYLAND_DISPLAY, DISPLAY=display,
                        XAUTHORITY=glob.glob(os.path.join(runtime, ".mutter-Xwaylandauth.*"))[0])

    def _running(self):
        if self.proc.poll() is not None:
            raise RuntimeError("GNOME Shell exited: " + open(self.log.name).read())
        return True

    def __exit__(self, *exc):
        if hasattr(self, "proc"):
            self._stop_shell()
            # The session ends with the Shell; the services beside it do not.
            with contextlib.suppress(ProcessLookupError):
                os.killpg(self.proc.pid, signal.SIGTERM)
            tevoli_harness.stop(self.proc)
            self.log.close()
        shutil.rmtree(self.dir, ignore_errors=True)

    def _stop_shell(self):
        """Ends the Shell before the services under it, so that it closes its XWayland
        display and removes the display's lock and socket."""
        try:
            with open(os.path.join(self.dir, "run", "shell.pid")) as f:
                pid = int(f.read())
            os.kill(pid, signal.SIGTERM)
            tevoli_harness.wait_until(lambda: not _alive(pid), 10)
        except (OSError, ValueError, TimeoutError):
            pass

    def call(self, name, path, method, *args):
        """A D-Bus call on the Shell's session bus with gdbus; the finished process."""
        return subprocess.run(["gdbus", "call", "--session", "--dest", name, "--object-path", path,
                               "--method", method, *args], env=self.env, capture_output=True, text=True,
                              timeout=30)

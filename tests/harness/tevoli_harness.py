"""Private real services for end-to-end tests, demos and benchmarks, each in a fresh
folder, dying with its starter and torn down by its context manager."""
import contextlib
import ctypes
import glob
import json
import os
import pwd
import re
import shutil
import signal
import subprocess
import tempfile
import time

_libc = ctypes.CDLL(None, use_errno=True)
PR_SET_PDEATHSIG = 1
# A command in a PID namespace of its own (its first process is process 1) with a /proc
# of its own; without root, a user namespace grants the right to make it.
OWN_PIDS = ["unshare", "--pid", "--fork", "--mount-proc"] + (["--map-root-user"] if os.getuid() else [])


def _die_with_parent():
    os.setsid()
    _libc.prctl(PR_SET_PDEATHSIG, signal.SIGKILL)


def spawn(cmd, **kwargs):
    return subprocess.Popen(cmd, preexec_fn=_die_with_parent, **kwargs)


def stop(proc, timeout=5):
    # The whole session, also when its first process has ended: it may leave daemons.
    for sig in (signal.SIGTERM, signal.SIGKILL):
        with contextlib.suppress(ProcessLookupError):
            os.killpg(proc.pid, sig)
        with contextlib.suppress(subprocess.TimeoutExpired):
            return proc.wait(timeout)


def binary(name):
    path = os.path.join(os.environ.get("TEVOLI_BIN_DIR", "build/bin"), name)
    if not os.access(path, os.X_OK):
        raise FileNotFoundError(f"{path} is not built")
    return path


def run(program, *args, timeout=240, **kwargs):
    """Runs a command (ours from the build tree) to its end, without input unless given."""
    for stream in ("stdout", "stderr"):
        kwargs.setdefault(stream, subprocess.PIPE)
    if "input" not in kwargs:
        kwargs.setdefault("stdin", subprocess.DEVNULL)
    program = binary(program) if program.startswith("tevoli-") else program
    return subprocess.run([program, *args], timeout=timeout, **kwargs)


def wait_until(predicate, timeout, interval=0.05, what="condition"):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if predicate():
            return
        time.sleep(interval)
    raise TimeoutError(f"timed out waiting for {what}")


def _ended(pid):
    """Whether the process is gone or has ended (a zombie has)."""
    try:
        with open(f"/proc/{pid}/stat") as f:
            return f.read().rsplit(")", 1)[1].split()[0] == "Z"
    except OSError:
        return True


class Service:
    """A service in a fresh folder (`dir`) logging there; `_start` sets `proc` and `env`."""

    NAME = "service"

    def __enter__(self):
        self.dir = tempfile.mkdtemp(prefix=f"tevoli-{self.NAME.split()[0].lower()}-")
        self.log = open(os.path.join(self.dir, "service.log"), "w")
        try:
            self._start()
        except BaseException:
            self.__exit__()
            raise
        return self

    def __exit__(self, *exc):
        if hasattr(self, "proc"):
            self._stop()
        self.log.close()
        shutil.rmtree(self.dir, ignore_errors=True)

    def _stop(self):
        stop(self.proc)

    def _running(self):
        if self.proc.poll() is not None:
            raise RuntimeError(f"{self.NAME} exited: " + open(self.log.name).read()[-3000:])
        return True

    def _written(self, name, timeout=60):
        """What the service wrote to a file of its folder, once it did."""
        path = os.path.join(self.dir, name)
        wait_until(lambda: self._running() and os.path.exists(path) and os.path.getsize(path), timeout, 0.1,
                   what=f"{self.NAME}'s {name}")
        with open(path) as f:
            return f.read().strip()


class PrivatePulse(Service):
    """PulseAudio with a null sink and a null source as defaults, at `env`'s PULSE_SERVER."""

    NAME = "PulseAudio"
    SINK = "tevoli_sink"
    SOURCE = "tevoli_mic"

    def __init__(self, rate=44100):
        self.rate = rate

    def _start(self):
        self.socket = os.path.join(self.dir, "pulse", "native")
        self.env = dict(os.environ, PULSE_SERVER=f"unix:{self.socket}")
        self._daemon()
        wait_until(lambda: self._running() and subprocess.run(["pactl", "info"], env=self.env, capture_output=True)
                   .returncode == 0, 15, what=self.NAME)

    def _daemon(self):
        env = {k: v for k, v in os.environ.items() if k != "PULSE_SERVER"}
        self.proc = spawn([
            "pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--realtime=no",
            "--high-priority=no", "--disable-shm=yes", "--use-pid-file=no",
            "-L", f"module-native-protocol-unix auth-anonymous=1 socket={self.socket}",
            "-L", f"module-null-sink sink_name={self.SINK} rate={self.rate}",
            "-L", f"module-null-source source_name={self.SOURCE}",
        ], env=dict(env, XDG_RUNTIME_DIR=self.dir, HOME=self.dir), stdout=self.log, stderr=subprocess.STDOUT,
            stdin=subprocess.DEVNULL)

    def pactl(self, *args):
        return subprocess.run(["pactl", *args], env=self.env, check=True, capture_output=True, text=True).stdout

    def pactl_json(self, *args):
        return json.loads(self.pactl("--format=json", *args) or "[]")

    def add_sink(self, name, rate):
        self.pactl("load-module", "module-null-sink", f"sink_name={name}", f"rate={rate}")

    def remove_sinks(self, *names):
        """Unloads the sinks named, or every sink."""
        def named():
            return [s for s in self.pactl_json("list", "sinks") if not names or s["name"] in names]
        for sink in named():
            self.pactl("unload-module", str(sink["owner_module"]))
        wait_until(lambda: not named(), 10, what=f"no sink of {names or 'any name'}")

    def set_default(self, kind, device):
        """Asks until the server reports it: a new default may land a moment later."""
        def made_default():
            self._running()
            subprocess.run(["pactl", f"set-default-{kind}", device], env=self.env, capture_output=True)
            return self.pactl(f"get-default-{kind}").strip() == device
        wait_until(made_default, 10, what=f"default {kind} {device}")

    def source_state(self):
        """The state of the default source: RUNNING while it is recorded."""
        name = self.pactl("get-default-source").strip()
        return {s["name"]: s["state"] for s in self.pactl_json("list", "sources")}.get(name)

    def play(self, wav_path, sink=None):
        return spawn(["paplay", f"--device={sink or self.SINK}", wav_path], env=self.env,
                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def record_default_source(self):  # a microphone in use
        return spawn(["parec", "--raw"], env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


# What a desktop session has of its own: the session bus of dbus-run-session; a second
# bus standing in for the system bus (KWin otherwise waits on the machine's logind, the
# Shell dies on a stale logind socket); the session's folders in the bus's activation
# environment (else a service the bus starts, such as dconf, writes elsewhere).
SESSION = r"""
export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$XDG_RUNTIME_DIR/system_bus"
dbus-daemon --session --address="$DBUS_SYSTEM_BUS_ADDRESS" --nofork --nopidfile &
while [ ! -S "$XDG_RUNTIME_DIR/system_bus" ]; do sleep 0.05; done
dbus-update-activation-environment HOME XDG_RUNTIME_DIR XDG_DATA_HOME XDG_CONFIG_HOME XDG_CACHE_HOME \
  XDG_STATE_HOME DBUS_SYSTEM_BUS_ADDRESS
echo "$DBUS_SESSION_BUS_ADDRESS" > "$XDG_RUNTIME_DIR/session_bus"
"""
# PipeWire and its session manager, which gives up when the daemon is not listening yet.
PIPEWIRE = r"""
pipewire &
while [ ! -S "$XDG_RUNTIME_DIR/pipewire-0" ]; do kill -0 $! || exit 1; sleep 0.05; done
wireplumber &
"""
# Taken from the environment of the machine or of a test: never a session's own.
SESSION_VARIABLES = ("DISPLAY", "WAYLAND_DISPLAY", "XAUTHORITY", "DBUS_SESSION_BUS_ADDRESS", "DBUS_SYSTEM_BUS_ADDRESS",
                     "PULSE_SERVER", "PIPEWIRE_RUNTIME_DIR", "SWAYSOCK", "KWIN_COMPOSE")


def start_session(service, script, *args):
    """Starts `script` in a session whose runtime folder and home are `service.dir`;
    returns its environment (without its bus)."""
    env = {k: v for k, v in os.environ.items() if k not in SESSION_VARIABLES}
    env.update(XDG_RUNTIME_DIR=service.dir, HOME=service.dir, PIPEWIRE_RUNTIME_DIR=service.dir)
    for kind in ("DATA", "CONFIG", "CACHE", "STATE"):
        env[f"XDG_{kind}_HOME"] = os.path.join(service.dir, kind.lower())
        os.makedirs(env[f"XDG_{kind}_HOME"], exist_ok=True)
    # The session manager without its Bluetooth part, which needs a running logind
    # (absent in containers and chroots) and ends the session manager without one.
    with open("/usr/share/wireplumber/wireplumber.conf") as f:
        conf = re.sub(r"^.*name = bluetooth\.lua,.*$", "", f.read(), flags=re.M)
    os.makedirs(os.path.join(env["XDG_CONFIG_HOME"], "wireplumber"))
    with open(os.path.join(env["XDG_CONFIG_HOME"], "wireplumber", "wireplumber.conf"), "w") as f:
        f.write(conf)
    service.proc = spawn(["dbus-run-session", "--", "bash", "-c", SESSION + script, "session", *args], env=env,
                         stdout=service.log, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
    return env


class PrivatePipeWire(PrivatePulse):
    """PipeWire, its session manager and pulse server in a session of their own, with
    PrivatePulse's devices (a virtual source node stands in for the null source)."""

    NAME = "PipeWire"

    def _daemon(self):
        os.makedirs(os.path.dirname(self.socket))
        # The session ends as soon as one of the daemons does.
        start_session(self, PIPEWIRE + "pipewire-pulse & wait -n")

    def _start(self):
        super()._start()
        self.add_sink(self.SINK, self.rate)
        self.pactl("load-module", "module-null-sink", f"sink_name={self.SOURCE}",
                   "sink_properties=media.class=Audio/Source/Virtual")
        self.set_default("sink", self.SINK)
        self.set_default("source", self.SOURCE)

    def remove_sinks(self, *names):
        # Its pulse server keeps a stand-in sink while no other exists; without it the
        # server is really left with none.
        if not names:
            self.pactl("unload-module", "module-always-sink")
        super().remove_sinks(*names)


class PrivateX(Service):
    """Xvfb with Composite and X-Resource at `env`'s DISPLAY, letting in only clients
    with its cookie: another test's client meeting its number is refused."""

    NAME = "Xvfb"

    def _start(self):
        auth = os.path.join(self.dir, "Xauthority")
        cookie = os.urandom(16).hex()
        # The server takes every cookie of its file, whatever display it is filed under.
        subprocess.run(["xauth", "-f", auth, "add", ":0", ".", cookie], check=True)
        read_end, write_end = os.pipe()
        self.proc = spawn(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1920x1080x24",
                           "+extension", "Composite", "+extension", "X-Resource",
                           "-nolisten", "tcp", "-noreset", "-auth", auth],
                          pass_fds=(write_end,), stdout=self.log, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end, "rb") as pipe:
            number = pipe.readline().strip()
        if not number:
            raise RuntimeError("Xvfb did not start: " + open(self.log.name).read()[-3000:])
        display = ":" + number.decode()
        subprocess.run(["xauth", "-f", auth, "add", display, ".", cookie], check=True)
        self.env = dict(os.environ, DISPLAY=display, XAUTHORITY=auth)


def desktop_user():
    """(uid, gid) of a session: ours, or when we are root an unprivileged user's."""
    if os.getuid() != 0:
        return os.getuid(), os.getgid()
    entry = pwd.getpwnam("nobody")
    return entry.pw_uid, entry.pw_gid


class PrivateSway(Service):
    """sway on a headless 1280x720 output with XWayland. It refuses root, so as root it
    and what `spawn` and `run` start run as nobody; `file` puts what they run where
    nobody may run it."""

    NAME = "sway"
    CONFIG = """output HEADLESS-1 resolution 1280x720
xwayland enable
default_border none
default_floating_border none
exec echo $WAYLAND_DISPLAY $DISPLAY $SWAYSOCK > displays.new && mv displays.new displays
"""

    def _start(self):
        self.uid, self.gid = desktop_user()
        os.chown(self.dir, self.uid, self.gid)
        self.env = {"HOME": self.dir, "XDG_RUNTIME_DIR": self.dir, "PATH": "/usr/bin:/bin", "SHELL": "/bin/sh",
                    "LANG": "C.UTF-8"}
        # The sanitizer build reads its settings from the environment.
        self.env.update({k: v for k, v in os.environ.items() if k.endswith("SAN_OPTIONS")})
        self.proc = self.spawn(["sway", "-c", self.file("config", self.CONFIG)], stdout=self.log,
                               stderr=subprocess.STDOUT, env=dict(self.env, WLR_BACKENDS="headless",
                                                                  WLR_RENDERER="pixman", WLR_LIBINPUT_NO_DEVICES="1"))
        wayland, x, sway = self._written("displays", 15).split()
        self.env.update(WAYLAND_DISPLAY=wayland, DISPLAY=x, SWAYSOCK=sway)

    def file(self, name, text="", source=None):
        """A copy of `source`, or `text`, that the session's user may run."""
        path = os.path.join(self.dir, name)
        if source:
            shutil.copy(source, path)
        else:
            with open(path, "w") as f:
                f.write(text)
        os.chmod(path, 0o755)
        return path

    def _as_user(self):
        os.setsid()
        os.setgroups([])
        os.setgid(self.gid)
        os.setuid(self.uid)
        _libc.prctl(PR_SET_PDEATHSIG, signal.SIGKILL)  # after setuid, which clears it

    def spawn(self, cmd, env=None, **kwargs):
        return subprocess.Popen(cmd, preexec_fn=self._as_user, env=env or self.env, cwd=self.dir, **kwargs)

    def run(self, cmd, env=None, timeout=30, **kwargs):
        return run(*cmd, preexec_fn=self._as_user, env=env or self.env, cwd=self.dir, timeout=timeout,
                   **kwargs)

    def swaymsg(self, *args):
        result = self.run(["swaymsg", *args])
        if result.returncode != 0:
            raise RuntimeError(f"swaymsg {args}: {result.stdout} {result.stderr}")
        return result.stdout

    def views(self):
        """sway's windows (nodes with a pid), by container id."""
        found, nodes = {}, [json.loads(self.swaymsg("-t", "get_tree"))]
        while nodes:
            node = nodes.pop()
            if "pid" in node:
                found[node["id"]] = node
            nodes += node.get("nodes", []) + node.get("floating_nodes", [])
        return found

    def place(self, criteria, width, height, x, y):
        """Floats the window `criteria` picks at a place and size; its node once shown so.
        Asked again until then: an X11 client's late answer to its tiling can undo the resize."""
        command = f"{criteria} floating enable, resize set {width} {height}, move position {x} {y}"
        rect = {"x": x, "y": y, "width": width, "height": height}
        placed = lambda: [v for v in self.views().values() if v["rect"] == rect]  # noqa: E731
        wait_until(lambda: self.run(["swaymsg", command]).returncode == 0 and placed(), 30, 0.5,
                   what=f"{criteria} at {rect}")
        return placed()[0]


class Compositor(Service):
    """A compositor with XWayland in a session of its own; `pid` is the compositor's."""

    def _stop(self):
        # The compositor first: it removes its XWayland display's lock and socket.
        with contextlib.suppress(AttributeError, ProcessLookupError, TimeoutError):
            os.kill(self.pid, signal.SIGTERM)
            wait_until(lambda: _ended(self.pid), 10, what=f"the end of {self.NAME}")
        stop(self.proc)


class PrivateKWin(Compositor):
    """KWin on a 1280x720 virtual output, run from a copy (the installed one has a file
    capability a container may lack). `authorised` programs get the .desktop file that
    grants them its screenshot interface."""

    NAME = "KWin"
    SOCKET = "wl-test"
    LAUNCH = r"""
kbuildsycoca5 --noincremental
echo $$ > "$XDG_RUNTIME_DIR/kwin.pid"
# It starts what it is given once XWayland is ready, with DISPLAY set.
exec "$1" --virtual --width 1280 --height 720 --xwayland --no-lockscreen --no-global-shortcuts \
  --no-kactivities --socket "$2" "sh -c 'echo \$DISPLAY > \$XDG_RUNTIME_DIR/display'"
"""
    DESKTOP_FILE = ("[Desktop Entry]\nType=Application\nName={name}\nExec={path}\nNoDisplay=true\n"
                    "X-KDE-DBUS-Restricted-Interfaces=org.kde.KWin.ScreenShot2\n")

    def __init__(self, authorised=()):
        self.authorised = [os.path.abspath(path) for path in authorised]

    def _start(self):
        applications = os.path.join(self.dir, "data", "applications")
        os.makedirs(applications)
        for i, path in enumerate(self.authorised):
            with open(os.path.join(applications, f"tevoli-test-{i}.desktop"), "w") as f:
                f.write(self.DESKTOP_FILE.format(name=os.path.basename(path), path=path))
        kwin = shutil.copy("/usr/bin/kwin_wayland", os.path.join(self.dir, "kwin_wayland"))
        env = start_session(self, self.LAUNCH, kwin, self.SOCKET)
        self.pid = int(self._written("kwin.pid"))
        self.env = dict(env, WAYLAND_DISPLAY=self.SOCKET, DISPLAY=self._written("display"),
                        DBUS_SESSION_BUS_ADDRESS=self._written("session_bus"))
        # Screenshots need KWin's compositing up: its interface appears with it.
        wait_until(lambda: self._running() and b"CaptureWindow" in subprocess.run(
            ["qdbus", "org.kde.KWin", "/org/kde/KWin/ScreenShot2"], env=self.env, capture_output=True).stdout,
            60, 0.1, what="KWin's screenshot interface")

    def qdbus(self, *args):
        return subprocess.run(["qdbus", "org.kde.KWin", *args], env=self.env, check=True,
                              capture_output=True, text=True).stdout


def built_extensions():
    """The Shell extensions of the build tree, which answer the build tree's tevoli-window."""
    folder = os.path.join(os.path.dirname(binary("tevoli-window")), os.pardir, "share", "gnome-shell", "extensions")
    return sorted(glob.glob(os.path.join(folder, "*@*")))


class PrivateGnomeShell(Compositor):
    """A headless GNOME Shell with PipeWire, `extensions` (folders named by uuid)
    installed and enabled and `enable` enabled. An extension of ours leaves the Overview
    (windows are painted as themselves only outside it), then says the Shell is ready."""

    NAME = "GNOME Shell"
    LAUNCH = PIPEWIRE + r"""
gsettings set org.gnome.shell enabled-extensions "$1"
echo $$ > "$XDG_RUNTIME_DIR/shell.pid"
exec gnome-shell --headless --wayland --virtual-monitor 1280x720 --wayland-display wl-tevoli
"""
    READY = "shell-ready@tests.tevoli.com"
    READY_JS = r"""
const {GLib} = imports.gi;
const Main = imports.ui.main;

function init() {}

function enable() {
    const ready = () => GLib.file_set_contents(`${GLib.get_user_runtime_dir()}/shell-ready`,
                                               GLib.getenv('DISPLAY') ?? '');
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
"""

    def __init__(self, extensions=(), enable=()):
        self.extensions = list(extensions)
        self.enable = list(enable)

    def _start(self):
        installed = os.path.join(self.dir, "data", "gnome-shell", "extensions")
        for folder in self.extensions:
            shutil.copytree(folder, os.path.join(installed, os.path.basename(folder)))
        ready = os.path.join(installed, self.READY)
        os.makedirs(ready)
        metadata = {"uuid": self.READY, "name": "ready", "description": "tests",
                    "shell-version": ["43", "44"]}
        for name, text in (("metadata.json", json.dumps(metadata)), ("extension.js", self.READY_JS)):
            with open(os.path.join(ready, name), "w") as f:
                f.write(text)
        uuids = [os.path.basename(folder) for folder in self.extensions] + self.enable + [self.READY]
        # Mutter refuses an X socket folder that is not world-writable and sticky, and makes
        # a missing one under the process's umask: it gets the mode a booted system gives it.
        os.makedirs("/tmp/.X11-unix", exist_ok=True)
        if os.stat("/tmp/.X11-unix").st_uid == os.getuid():
            os.chmod("/tmp/.X11-unix", 0o1777)
        env = start_session(self, self.LAUNCH, json.dumps(uuids).replace('"', "'"))
        self.pid = int(self._written("shell.pid"))
        display = self._written("shell-ready", 90)
        self.env = dict(env, WAYLAND_DISPLAY="wl-tevoli", DISPLAY=display,
                        DBUS_SESSION_BUS_ADDRESS=self._written("session_bus"),
                        XAUTHORITY=glob.glob(f"{self.dir}/.mutter-Xwaylandauth.*")[0])

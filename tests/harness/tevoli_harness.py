"""Private real services for end-to-end tests, demos and benchmarks.

Every service runs in a fresh temporary folder, dies with the process that
started it (PR_SET_PDEATHSIG), and is torn down by its context manager, also
when a test fails. Nothing here touches a desktop session of the machine.
"""
import contextlib
import ctypes
import json
import os
import re
import shutil
import signal
import subprocess
import tempfile
import time

_libc = ctypes.CDLL(None, use_errno=True)
PR_SET_PDEATHSIG = 1
# Runs a command in a PID namespace of its own, with a /proc that shows only its
# processes; its first process is process 1. Without root, a user namespace grants
# the right to make it.
OWN_PIDS = ["unshare", "--pid", "--fork", "--mount-proc"] + (["--map-root-user"] if os.getuid() else [])


def _die_with_parent():
    os.setsid()
    _libc.prctl(PR_SET_PDEATHSIG, signal.SIGKILL)


def spawn(cmd, **kwargs):
    """Starts a service process in its own session that is killed when we die."""
    return subprocess.Popen(cmd, preexec_fn=_die_with_parent, **kwargs)


def stop(proc, timeout=5):
    # The whole session, also when its first process has ended: it may leave daemons.
    with contextlib.suppress(ProcessLookupError):
        os.killpg(proc.pid, signal.SIGTERM)
    try:
        proc.wait(timeout)
    except subprocess.TimeoutExpired:
        with contextlib.suppress(ProcessLookupError):
            os.killpg(proc.pid, signal.SIGKILL)
        proc.wait()


def binary(name):
    """Path of a built program, from the build tree the test runner names."""
    path = os.path.join(os.environ.get("TEVOLI_BIN_DIR", "build/bin"), name)
    if not os.access(path, os.X_OK):
        raise FileNotFoundError(f"{path} is not built")
    return path


def run(program, *args, timeout=240, **kwargs):
    """Runs a command to its end, the suite's programs (tevoli-...) from the build tree:
    no standard input unless `input` is given, the outputs captured unless given."""
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


class PrivatePulse:
    """A PulseAudio daemon of our own with a null sink (default output) and a
    null source (default input), reached through `env`'s PULSE_SERVER."""

    NAME = "PulseAudio"
    SINK = "tevoli_sink"
    SOURCE = "tevoli_mic"

    def __init__(self, rate=44100):
        self.rate = rate

    def __enter__(self):
        self.dir = tempfile.mkdtemp(prefix="tevoli-pulse-")
        self.socket = os.path.join(self.dir, "pulse", "native")
        self.server = f"unix:{self.socket}"
        self.env = dict(os.environ, PULSE_SERVER=self.server)
        self.log = open(os.path.join(self.dir, "daemon.log"), "w")
        try:
            self.proc = self._start(self._daemon_env())
            wait_until(self._ready, 15, what=self.NAME)
            self._add_devices()
        except BaseException:
            self.__exit__(None, None, None)
            raise
        return self

    def _daemon_env(self):
        env = dict(os.environ, XDG_RUNTIME_DIR=self.dir, HOME=self.dir,
                   PULSE_RUNTIME_PATH=os.path.join(self.dir, "pulse"),
                   PULSE_STATE_PATH=os.path.join(self.dir, "state"))
        env.pop("PULSE_SERVER", None)
        return env

    def _start(self, env):
        return spawn([
            "pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--realtime=no",
            "--high-priority=no", "--disable-shm=yes", "--use-pid-file=no",
            "-L", f"module-native-protocol-unix auth-anonymous=1 socket={self.socket}",
            "-L", f"module-null-sink sink_name={self.SINK} rate={self.rate}",
            "-L", f"module-null-source source_name={self.SOURCE}",
        ], env=env, stdout=self.log, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)

    def _add_devices(self):
        pass

    def _check_running(self):
        if self.proc.poll() is not None:
            raise RuntimeError(f"{self.NAME} exited: " + open(self.log.name).read())

    def _ready(self):
        self._check_running()
        return subprocess.run(["pactl", "info"], env=self.env, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL).returncode == 0

    def __exit__(self, *exc):
        if hasattr(self, "proc"):
            stop(self.proc)
        self.log.close()
        shutil.rmtree(self.dir, ignore_errors=True)

    def pactl(self, *args):
        return subprocess.run(["pactl", *args], env=self.env, check=True,
                              capture_output=True, text=True).stdout

    def pactl_json(self, *args):
        return json.loads(self.pactl("--format=json", *args) or "[]")

    def add_sink(self, name, rate):
        """Loads another null sink; returns its module index."""
        return self.pactl("load-module", "module-null-sink", f"sink_name={name}", f"rate={rate}").strip()

    def remove_every_sink(self):
        for sink in self.pactl_json("list", "sinks"):
            self.pactl("unload-module", str(sink["owner_module"]))
        wait_until(lambda: not self.pactl_json("list", "sinks"), 10, what="no sink")

    def set_default(self, kind, device):
        """Makes `device` the default sink or source, asking again until the server
        reports it: a server may land a new default a moment after it was asked for."""
        def made_default():
            self._check_running()
            subprocess.run(["pactl", f"set-default-{kind}", device], env=self.env, capture_output=True)
            return self.pactl(f"get-default-{kind}").strip() == device
        wait_until(made_default, 10, what=f"default {kind} {device}")

    def source_state(self):
        """The state of the default source: RUNNING while it is recorded."""
        name = self.pactl("get-default-source").strip()
        return {s["name"]: s["state"] for s in self.pactl_json("list", "sources")}.get(name)

    def play(self, wav_path, sink=None):
        """Plays a sound file into a sink (ours by default); returns the running player."""
        return spawn(["paplay", f"--device={sink or self.SINK}", wav_path], env=self.env,
                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def record_default_source(self):
        """Starts a recording from the default source (a microphone in use)."""
        return spawn(["parec", "--raw"], env=self.env, stdout=subprocess.DEVNULL,
                     stderr=subprocess.DEVNULL)


def write_wireplumber_config(config_home):
    """The session manager's configuration under `config_home` (XDG_CONFIG_HOME), without
    its Bluetooth part, which needs a running logind (absent in containers and chroots)
    and ends the session manager without one."""
    with open("/usr/share/wireplumber/wireplumber.conf") as f:
        conf = re.sub(r"^.*name = bluetooth\.lua,.*$", "", f.read(), flags=re.M)
    os.makedirs(os.path.join(config_home, "wireplumber"))
    with open(os.path.join(config_home, "wireplumber", "wireplumber.conf"), "w") as f:
        f.write(conf)


class PrivatePipeWire(PrivatePulse):
    """PipeWire with its session manager and pulse server, headless on a session bus
    of its own, with the same devices as PrivatePulse. Its pulse server loads no
    null source: a virtual source node stands in for the microphone."""

    NAME = "PipeWire"
    # The session manager gives up when the daemon is not listening yet. The session
    # ends as soon as one of the three daemons does.
    LAUNCH = ('pipewire & while [ ! -S "$PIPEWIRE_RUNTIME_DIR/pipewire-0" ]; do '
              'kill -0 $! || exit 1; sleep 0.05; done; wireplumber & pipewire-pulse & wait -n')

    def _start(self, env):
        config = os.path.join(self.dir, "config")
        env.update(XDG_CONFIG_HOME=config, XDG_STATE_HOME=os.path.join(self.dir, "state"),
                   PIPEWIRE_RUNTIME_DIR=self.dir)
        os.makedirs(os.path.dirname(self.socket))
        os.chmod(self.dir, 0o700)
        write_wireplumber_config(config)
        return spawn(["dbus-run-session", "--", "bash", "-c", self.LAUNCH], env=env, stdout=self.log,
                     stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)

    def _add_devices(self):
        self.add_sink(self.SINK, self.rate)
        self.pactl("load-module", "module-null-sink", f"sink_name={self.SOURCE}",
                   "sink_properties=media.class=Audio/Source/Virtual")
        self.set_default("sink", self.SINK)
        self.set_default("source", self.SOURCE)

    def remove_every_sink(self):
        # Its pulse server keeps a stand-in sink while no other exists; without it the
        # server is really left with none.
        self.pactl("unload-module", "module-always-sink")
        super().remove_every_sink()


class PrivateX:
    """An Xvfb display of our own, with Composite and X-Resource, in `env`'s DISPLAY.
    Only clients with its cookie (`env`'s XAUTHORITY) get in: a client of another
    test that meets this display number, or ours meeting another server, is refused
    instead of showing windows where they do not belong."""

    def __enter__(self):
        self.dir = tempfile.mkdtemp(prefix="tevoli-x-")
        auth = os.path.join(self.dir, "Xauthority")
        cookie = os.urandom(16).hex()
        # The server takes every cookie of its file, whatever display it is filed under.
        subprocess.run(["xauth", "-f", auth, "add", ":0", ".", cookie], check=True)
        read_end, write_end = os.pipe()
        self.proc = spawn(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1920x1080x24",
                           "+extension", "Composite", "+extension", "X-Resource",
                           "-nolisten", "tcp", "-noreset", "-auth", auth],
                          pass_fds=(write_end,), stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end, "rb") as pipe:
            number = pipe.readline().strip()
        if not number:
            self.__exit__()
            raise RuntimeError("Xvfb did not start")
        self.display = ":" + number.decode()
        subprocess.run(["xauth", "-f", auth, "add", self.display, ".", cookie], check=True)
        self.env = dict(os.environ, DISPLAY=self.display, XAUTHORITY=auth)
        return self

    def __exit__(self, *exc):
        if hasattr(self, "proc"):
            stop(self.proc)
        shutil.rmtree(self.dir, ignore_errors=True)

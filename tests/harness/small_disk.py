"""A small file system of its own for a test to fill up, in a private mount namespace."""
import os
import subprocess
import tempfile
import unittest

# `no_fd_links command ...` runs a command that finds its /proc/self/fd empty, as in a
# chroot without /proc, while the rest of /proc (which sanitizer runtimes read) stays.
NO_FD_LINKS = """no_fd_links() { sh -c 'mount -t tmpfs tmpfs "/proc/$$/fd" && exec "$@"' sh "$@"; }"""


def on_small_disk(script, *args, size):
    """Runs the shell `script` with `args` as "$@" and `no_fd_links`, where $DISK is a
    fresh file system of `size` that nothing else sees; returns the finished process."""
    # Without root, a user namespace grants the right to mount.
    unshare = ["unshare", "--mount"] + (["--map-root-user"] if os.getuid() else [])
    # In a chroot whose root is no mount point, no mount namespace can be made private.
    if subprocess.run([*unshare, "true"], capture_output=True).returncode != 0:
        raise unittest.SkipTest("cannot make a mount namespace here")
    with tempfile.TemporaryDirectory(prefix="tevoli-disk-") as disk:
        mounted = f'{NO_FD_LINKS}\nmount -t tmpfs -o size={size} tmpfs "$DISK" || exit 99\n{script}'
        return subprocess.run([*unshare, "sh", "-c", mounted, "sh", *args], env=dict(os.environ, DISK=disk),
                              stdin=subprocess.DEVNULL, capture_output=True, timeout=120)

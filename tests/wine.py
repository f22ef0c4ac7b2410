"""Wine for the length of a run of the Windows suite: a prefix for root and,
when the suite runs as root, one for an ordinary user (Wine running as root
ignores Unix permissions), each with its server and services kept running."""

import contextlib
import os
import shutil
import subprocess
import tempfile
import time

from harness import drop_privileges, reachable_copy, target


def environment(prefix):
    # Wine names Unix files in the locale's character set: UTF-8, so that
    # every Windows name has a file, whatever locale the suite runs in.
    return dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=", LC_ALL="C.UTF-8")


def start(env, as_user=None):
    """Prepares a Wine prefix once for the whole run and keeps its server and
    services running, started without the limits that some cases set on the
    program (a server started under a file-size limit crashes). Returns False
    when Wine can't start."""
    quiet = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                 env=env, preexec_fn=as_user)
    prefix = env["WINEPREFIX"]
    os.makedirs(prefix, exist_ok=True)
    subprocess.run(["wineserver", "-k"], **quiet)
    info = os.stat(prefix)
    socket = f"/tmp/.wine-{info.st_uid}/server-{info.st_dev:x}-{info.st_ino:x}/socket"
    subprocess.Popen(["wineserver", "--persistent", "--foreground"], start_new_session=True, **quiet)
    deadline = time.monotonic() + 30
    while not os.path.exists(socket) and time.monotonic() < deadline:
        time.sleep(0.05)
    if subprocess.run(["wineboot", "-i"], timeout=600, **quiet).returncode != 0:
        return False
    program = reachable_copy(target.program) if as_user else target.program
    return subprocess.run([*target.wine, program], timeout=120, **quiet).returncode == 0


def stop(env, as_user=None):
    subprocess.run(["wineserver", "-k"], env=env, preexec_fn=as_user,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


@contextlib.contextmanager
def session():
    """Starts Wine for the cases that run inside it and stops it afterwards.
    Raises RuntimeError when Wine can't start at all."""
    target.wine = ["wine"]
    os.environ.update(environment(os.environ.get("WINEPREFIX") or tempfile.mkdtemp(prefix="tessera-wine-")))
    if not start(os.environ):
        raise RuntimeError("Wine can't start")
    # The cases that need an ordinary user run Wine as that user, with a prefix of its own.
    user_prefix = tempfile.mkdtemp(prefix="tessera-wine-user-")
    target.wine_user_env = dict(environment(user_prefix), HOME=user_prefix)
    if os.geteuid() == 0:
        os.chmod(user_prefix, 0o755)
        os.chown(user_prefix, 65534, 65534)
        if not start(target.wine_user_env, as_user=drop_privileges):
            target.wine_user_env = None
    try:
        yield
    finally:
        stop(os.environ)
        if target.wine_user_env and os.geteuid() == 0:
            stop(target.wine_user_env, as_user=drop_privileges)
        shutil.rmtree(user_prefix, ignore_errors=True)

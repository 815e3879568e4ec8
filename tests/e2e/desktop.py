"""A virtual desktop for driving the real programs as a person would.

Starts Xvfb on a free display (with the openbox window manager), starts
programs on it, finds windows by title and by the process that owns them,
moves them, clicks at client-area positions, types text, and captures
windows as pictures. Every wait is bounded; every program started here ends
with the desktop, and with the process that started it if that dies first.
"""

import ctypes
import os
import re
import shutil
import signal
import subprocess
import time

from images import Image


class StepFailed(Exception):
    """A step of a scripted road did not hold."""


def wait_until(predicate, timeout, what, interval=0.05):
    """Polls predicate until it returns something true; fails after timeout."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise StepFailed(f"timed out after {timeout:g} s waiting for {what}")
        time.sleep(interval)


def _die_with_parent():
    # Runs in the child between fork and exec: when the test itself is
    # killed (a CI time-out), nothing it started may outlive it.
    PR_SET_PDEATHSIG = 1
    try:
        ctypes.CDLL(None, use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGTERM)
    except (OSError, AttributeError):
        pass


def _tool(name):
    # /usr/bin first: a stand-in of the same name may sit earlier on PATH.
    for folder in ("/usr/bin", None):
        found = shutil.which(name, path=folder) if folder else shutil.which(name)
        if found:
            return found
    raise StepFailed(f"{name} is not installed")


class Geometry:
    """Where a window is on the screen: its client area, in root pixels."""

    def __init__(self, x, y, width, height, viewable):
        self.x, self.y, self.width, self.height = x, y, width, height
        self.viewable = viewable

    def __repr__(self):
        return f"{self.width}x{self.height}+{self.x}+{self.y}"


class Desktop:
    def __init__(self, size="1920x1080", window_manager=True):
        self.processes = []
        self.display = None
        self.width, self.height = (int(v) for v in size.split("x"))
        self._xvfb = None
        self._xdotool = _tool("xdotool")
        self._xwininfo = _tool("xwininfo")
        self._import = _tool("import")
        try:
            self._start_xvfb(size)
            if window_manager:
                self.start([_tool("openbox"), "--sm-disable"], name="openbox", quiet=True)
                # openbox has the screen once it announces itself on the root.
                wait_until(self._has_window_manager, 15, "the window manager")
        except BaseException:
            self.close()
            raise

    # -- the display ------------------------------------------------------
    def _start_xvfb(self, size):
        read_fd, write_fd = os.pipe()
        self._xvfb = subprocess.Popen(
            [_tool("Xvfb"), "-displayfd", str(write_fd), "-screen", "0", f"{size}x24",
             "-noreset", "-nolisten", "tcp"],
            pass_fds=(write_fd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            start_new_session=True, preexec_fn=_die_with_parent)
        os.close(write_fd)
        number = b""
        deadline = time.monotonic() + 20
        os.set_blocking(read_fd, False)
        while not number.endswith(b"\n") and time.monotonic() < deadline:
            try:
                chunk = os.read(read_fd, 16)
            except BlockingIOError:
                if self._xvfb.poll() is not None:
                    break
                time.sleep(0.02)
                continue
            if not chunk:
                break
            number += chunk
        os.close(read_fd)
        if not number.strip():
            raise StepFailed("Xvfb did not start")
        self.display = ":" + number.decode().strip()

    def _has_window_manager(self):
        out = self.run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], check=False)
        return "window id" in out

    def env(self, extra=None):
        env = dict(os.environ)
        env["DISPLAY"] = self.display
        env.pop("QT_QPA_PLATFORM", None)
        env.pop("XAUTHORITY", None)
        if extra:
            env.update(extra)
        return env

    # -- programs ---------------------------------------------------------
    def start(self, argv, name=None, env=None, log=None, quiet=False):
        """Starts a program on this display; its output goes to log (a path)."""
        out = subprocess.DEVNULL
        if log:
            out = open(log, "ab")
        elif not quiet:
            out = None
        try:
            proc = subprocess.Popen(argv, env=self.env(env), stdout=out,
                                    stderr=subprocess.STDOUT if log else out,
                                    stdin=subprocess.DEVNULL, start_new_session=True,
                                    preexec_fn=_die_with_parent)
        finally:
            if log:
                out.close()
        proc.name = name or os.path.basename(argv[0])
        self.processes.append(proc)
        return proc

    def run(self, argv, check=True, timeout=20):
        try:
            result = subprocess.run(argv, env=self.env(), capture_output=True,
                                    timeout=timeout)
        except subprocess.TimeoutExpired:
            raise StepFailed(f"{' '.join(argv)} did not finish within {timeout} s")
        if check and result.returncode != 0:
            raise StepFailed(f"{' '.join(argv)} failed: "
                             f"{result.stderr.decode(errors='replace').strip()}")
        return result.stdout.decode(errors="replace")

    def stop(self, proc, timeout=10, sig=signal.SIGTERM):
        """Stops a program and what it started; returns its exit status."""
        if proc.poll() is None:
            try:
                os.killpg(proc.pid, sig)
            except ProcessLookupError:
                pass
        try:
            return proc.wait(timeout)
        except subprocess.TimeoutExpired:
            try:
                os.killpg(proc.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            return proc.wait(timeout)

    def close(self):
        for proc in reversed(self.processes):
            self.stop(proc)
        self.processes = []
        if self._xvfb:
            self.stop(self._xvfb)
            self._xvfb = None

    # -- windows ----------------------------------------------------------
    def _search(self, *criteria, visible=True):
        # Every criterion must hold (xdotool's default is any of them).
        out = self.run([self._xdotool, "search", "--all", *(["--onlyvisible"] if visible else []),
                        *criteria], check=False)
        return [int(w) for w in out.split()]

    def windows(self, title=None, pid=None, visible=True):
        """Ids of the windows (mapped ones only, unless visible is False) with
        exactly this title, of this process."""
        criteria = []
        if pid is not None:
            criteria += ["--pid", str(pid)]
        criteria += ["--name", "^" + re.escape(title) + "$" if title is not None else ""]
        found = self._search(*criteria, visible=visible)
        if title is None:
            return found
        # xdotool matches the pattern against WM_NAME, class and icon name;
        # only the title itself counts here.
        return [w for w in found if self.title(w) == title]

    def window(self, title, pid=None, timeout=20):
        return wait_until(lambda: (self.windows(title, pid) or [None])[0], timeout,
                          f'the window "{title}"')

    def wait_gone(self, title, pid=None, timeout=20):
        wait_until(lambda: not self.windows(title, pid), timeout, f'"{title}" to close')

    def title(self, wid):
        return self.run([self._xdotool, "getwindowname", str(wid)], check=False).rstrip("\n")

    def geometry(self, wid):
        """The client area's absolute place (xwininfo's values are the right ones)."""
        out = self.run([self._xwininfo, "-id", str(wid)], check=False)
        values = {}
        for key in ("Absolute upper-left X", "Absolute upper-left Y", "Width", "Height"):
            m = re.search(re.escape(key) + r":\s+(-?\d+)", out)
            if not m:
                return None
            values[key] = int(m.group(1))
        return Geometry(values["Absolute upper-left X"], values["Absolute upper-left Y"],
                        values["Width"], values["Height"], "IsViewable" in out)

    def move(self, wid, x, y):
        """Moves a window so that its client area starts near (x, y)."""
        self.run([self._xdotool, "windowmove", str(wid), str(x), str(y)], check=False)

    def visible_titles(self):
        return [self.title(w) for w in self.windows()]

    # -- input ------------------------------------------------------------
    def point(self, wid, x, y):
        """Moves the pointer to the client-area position (x, y) of window wid."""
        self.run([self._xdotool, "mousemove", "--window", str(wid), str(x), str(y)])

    def click(self, wid, x, y):
        """A left click at the client-area position (x, y) of window wid."""
        self.run([self._xdotool, "mousemove", "--window", str(wid), str(x), str(y),
                  "click", "1"])

    def type(self, text):
        self.run([self._xdotool, "type", "--delay", "20", text])

    def key(self, *names):
        self.run([self._xdotool, "key", "--delay", "30", *names])

    def replace_text(self, wid, x, y, text):
        """Clicks into an edit field, selects what it holds and types text."""
        self.click(wid, x, y)
        self.key("ctrl+a", "BackSpace")
        if text:
            self.type(text)

    # -- pictures ---------------------------------------------------------
    def capture(self, wid, timeout=4):
        """What window wid shows now, or None when it cannot be read. A window
        that goes away while it is captured can leave import waiting for a
        window to be picked with the mouse: the bound is short (a capture
        takes a tenth of a second)."""
        try:
            raw = subprocess.run([self._import, "-silent", "-window", str(wid), "-depth", "8", "ppm:-"],
                                 env=self.env(), capture_output=True, timeout=timeout).stdout
        except subprocess.TimeoutExpired:
            return None
        return Image.from_ppm(raw)

    def screenshot(self, path):
        """The whole screen into a PNG file; returns the path (or None)."""
        try:
            subprocess.run([self._import, "-silent", "-window", "root", path],
                           env=self.env(), capture_output=True, timeout=30)
        except subprocess.TimeoutExpired:
            return None
        return path if os.path.exists(path) else None


class LogWatcher:
    """Reads a growing log file and waits for lines matching a pattern."""

    def __init__(self, path):
        self.path = path

    def text(self):
        try:
            with open(self.path, "r", errors="replace") as f:
                return f.read()
        except FileNotFoundError:
            return ""

    def lines(self, since=0):
        return self.text().splitlines()[since:]

    def mark(self):
        """A place in the log: later waits look only at what follows it."""
        return len(self.text().splitlines())

    def matches(self, pattern, since=0):
        return [m for m in (re.search(pattern, line) for line in self.lines(since)) if m]

    def wait_for(self, pattern, timeout=20, since=0, at_least=1):
        """The first match after since, once at_least lines match."""
        found = wait_until(lambda: (lambda ms: ms if len(ms) >= at_least else None)(
            self.matches(pattern, since)), timeout,
            f"/{pattern}/ in {os.path.basename(self.path)}")
        return found[at_least - 1]

    def tail(self, count=25):
        return "\n".join(self.lines()[-count:])

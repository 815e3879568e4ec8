"""The programs of a road: the lobby server, console players and clients.

Server: vossad on an address of the road's own (127.0.0.N, port 2424, the
port the clients join), with a model of its registry built from its log, so
that the road knows which players a query must list, and in which order.
Bot: a lobbybot with a profile, read through its lines.
Client: one lobby process with its own home, installation directory and
WIN.INI, driven through its windows on its own side of the screen.
"""

import os
import random
import re
import socket
import subprocess

import lobby_windows as W
from desktop import LogWatcher, StepFailed, wait_until
from images import ListRows

LOBBY_PORT = 2424
_LINE = re.compile(r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d+ (\S+) (.*)$")


def free_tcp_port():
    with socket.socket() as s:
        s.bind(("0.0.0.0", 0))
        return s.getsockname()[1]


class Server:
    def __init__(self, desktop, vossad, folder, address=None, extra=()):
        self.desktop = desktop
        self.log = LogWatcher(os.path.join(folder, "vossad.log"))
        self.proc = None
        # Other programs on this machine may hold 2424 somewhere; an address
        # of our own in 127/8 leaves them alone.
        candidates = [address] if address else random.sample(range(2, 250), 8)
        for n in candidates:
            self.address = address or f"127.0.0.{n}"
            mark = self.log.mark()
            self.proc = desktop.start([vossad, "--bind", self.address, "--port", str(LOBBY_PORT),
                                       *extra],
                                      name="vossad", log=self.log.path)
            started = wait_until(lambda: self.proc.poll() is not None or self.log.matches(
                r"^listening on ", mark), 15, "vossad to listen")
            if self.proc.poll() is None and started:
                return
        raise StepFailed(f"vossad could not listen on port {LOBBY_PORT}: {self.log.tail(5)}")

    def stop(self):
        return self.desktop.stop(self.proc)

    # -- the log as a model of the registry --------------------------------
    def events(self, since=0, upto=None):
        for line in self.log.lines(since)[: None if upto is None else upto - since]:
            m = _LINE.match(line)
            if m:
                yield m.group(1), m.group(2)

    def registry(self, upto=None):
        """Ids registered and listed, in registration order, up to a line."""
        order = []
        for who, what in self.events(0, upto):
            if what.startswith("registered ("):
                if who in order:
                    order.remove(who)
                order.append(who)
            elif what.startswith("removed:") or what.startswith("in a game"):
                if who in order:
                    order.remove(who)
            elif what.startswith("stopped:"):
                order = []
        return order

    def wait_registered(self, since, exclude=(), timeout=20):
        """The id of the first player registered after since, not in exclude."""
        def find():
            for who, what in self.events(since):
                if what.startswith("registered (") and who not in exclude:
                    return who
            return None
        return wait_until(find, timeout, "a registration in the server's log")

    def wait_query(self, asker, since, timeout=20, keep=None):
        """(number listed, ids the model says were listed, the line after it)
        for asker's next query; keep says which players its filter matches."""
        pattern = re.compile(r"^query for APP=\S+ answered: (\d+) listed")
        def find():
            for i, line in enumerate(self.log.lines(since)):
                m = _LINE.match(line)
                if m and m.group(1) == asker:
                    q = pattern.match(m.group(2))
                    if q:
                        return int(q.group(1)), since + i
            return None
        listed, at = wait_until(find, timeout, f"a query by {asker} in the server's log")
        expected = [p for p in self.registry(upto=at) if p != asker and (keep is None or keep(p))]
        return listed, expected, at + 1


class Bot:
    def __init__(self, desktop, lobbybot, folder, server, profile, extra=(), env=None):
        self.name = profile["name"]
        self.log = LogWatcher(os.path.join(folder, f"bot-{self.name.replace(' ', '_')}.log"))
        argv = [lobbybot, "--server", server.address, "--port", str(LOBBY_PORT),
                "--name", profile["name"], "--desc", profile["desc"], "--city", profile["city"],
                "--country", profile["country"], "--age", profile["age"],
                "--sex", profile["sex"], "--email", profile["email"], *extra]
        mark = server.log.mark()
        self.proc = desktop.start(argv, name=self.name, log=self.log.path, env=env)
        self.log.wait_for(r"^registered$", 20)
        self.id = server.wait_registered(mark)


class Client:
    """One person at the lobby client, using the windows on one side of the screen."""

    def __init__(self, desktop, paths, folder, server, label, profile, side, env=None):
        self.desktop, self.server, self.label, self.profile = desktop, server, label, profile
        self.side = side  # the left edge of this person's part of the screen
        self.id = None
        self.last_listing = []
        self.last_rows = None
        self.home = os.path.join(folder, f"home-{label}")
        self.err = LogWatcher(os.path.join(folder, f"lobby-{label}.log"))
        runtime = os.path.join(self.home, "run")
        os.makedirs(runtime, mode=0o700, exist_ok=True)
        self.env = {
            "HOME": self.home,
            "XDG_CONFIG_HOME": os.path.join(self.home, "config"),
            "XDG_DATA_HOME": os.path.join(self.home, "data"),
            "XDG_CACHE_HOME": os.path.join(self.home, "cache"),
            # The single-instance lock lives here: each person has their own.
            "XDG_RUNTIME_DIR": runtime,
            "LOBBY_WIN_INI": os.path.join(self.home, "WIN.INI"),
            **(env or {}),
        }
        setup = subprocess.run([paths.setup, "--data", paths.data], env={**os.environ, **self.env},
                               capture_output=True, text=True, timeout=60)
        if setup.returncode != 0:
            raise StepFailed(f"lobby-setup failed: {setup.stderr.strip()}")
        m = re.search(r"\(([^)]*)\): \d+ file", setup.stdout)
        if not m:
            raise StepFailed(f"lobby-setup said: {setup.stdout.strip()}")
        self.install_dir = m.group(1)
        with open(os.path.join(self.install_dir, "SERVERS.INI"), "w") as f:
            f.write(f"[QORServers]\nCurrentServer={server.address}\nServerCount=1\n"
                    f"Server1={server.address}\nName1=The road's server\n"
                    f"Location1=This machine\nVersion=0\n")
        self.proc = desktop.start([paths.lobby], name=f"lobby-{label}", env=self.env,
                                  log=self.err.path)

    # -- what is on screen ---------------------------------------------------
    def _all_windows(self):
        if self.proc.poll() is not None:
            return []
        out = []
        for wid in self.desktop.windows(pid=self.proc.pid):
            geometry = self.desktop.geometry(wid)
            if geometry is not None and geometry.viewable:
                out.append((wid, self.desktop.title(wid), geometry))
        return out

    @staticmethod
    def _is_message_box(title, geometry):
        return (geometry.width, geometry.height) == W.MESSAGE_SIZE and title in ("", "lobby", W.MESSAGE)

    def screen(self):
        """(titles of the visible windows -> ids, the message box's id or None)."""
        titles, box = {}, None
        for wid, title, geometry in self._all_windows():
            self._keep_on_side(wid, geometry)
            if self._is_message_box(title, geometry):
                box = wid
            else:
                titles[title] = wid
        return titles, box

    def _on_side(self, geometry):
        return geometry is None or (self.side <= geometry.x and
                                    geometry.x + geometry.width <= self.side + W.FORM_WIDTH + 20)

    def _keep_on_side(self, wid, geometry):
        # Every window is centred on the screen; two people's windows would
        # lie on top of each other. A person moves theirs aside. (Pop-ups,
        # such as a drop-down's list, go with their window.)
        if self.side is None or geometry.width < 250 or self._on_side(geometry):
            return
        self.desktop.move(wid, self.side + 8, 60 if geometry.height > 200 else 200)
        wait_until(lambda: self._on_side(self.desktop.geometry(wid)), 5,
                   f"{self.label}'s window to move aside")

    def describe(self):
        """What this client shows, and the state of its windows that are not
        shown (for a report of a failure)."""
        titles, box = self.screen()
        shown = sorted(titles) + (["<message box>"] if box else [])
        lines = [f"{self.label} shows: " + (", ".join(shown) if shown else "nothing")]
        if self.proc.poll() is not None:
            lines.append(f"  {self.label}'s lobby has ended with status {self.proc.returncode}")
            return "\n".join(lines)
        for wid in self.desktop.windows(pid=self.proc.pid, visible=False):
            geometry = self.desktop.geometry(wid)
            if geometry is None or geometry.viewable or geometry.width < 100:
                continue
            states = self.desktop.run(["xprop", "-id", str(wid), "WM_STATE", "_NET_WM_STATE"],
                                      check=False)
            state = re.search(r"window state: (\w+)", states)
            net = re.search(r"_NET_WM_STATE\(ATOM\) = (.*)", states)
            lines.append(f"  not shown: {self.desktop.title(wid)!r} {geometry} "
                         f"(WM_STATE {state.group(1) if state else 'none'}"
                         f"{', ' + net.group(1) if net else ''})")
        return "\n".join(lines)

    def wait_screen(self, titles, box=False, timeout=20):
        """Waits until exactly these windows are visible and the message box
        is (box=True) or is not (False) or either (None). Returns the ids by
        title, and with box=True also the message box's id."""
        wanted = set(titles)
        state = {}

        def holds():
            shown, message = self.screen()
            state["last"] = (shown, message)
            if set(shown) == wanted and (box is None or bool(message) == box):
                return shown, message
            return None
        try:
            shown, message = wait_until(holds, timeout, "")
        except StepFailed:
            shown, message = state.get("last", ({}, None))
            want = sorted(wanted) + (["<message box>"] if box else [])
            have = sorted(shown) + (["<message box>"] if message else [])
            raise StepFailed(f"{self.label}: expected {want} on screen, saw {have} "
                             f"after {timeout} s")
        return (shown, message) if box else shown

    def window(self, title, timeout=20):
        return self.desktop.window(title, self.proc.pid, timeout)

    # -- the windows, used ----------------------------------------------------
    def close_message_box(self, box):
        self.desktop.click(box, *W.MESSAGE_OK)
        wait_until(lambda: self.screen()[1] is None, 10, f"{self.label}'s message box to close")

    def leave_splash(self):
        splash = self.wait_screen({W.SPLASH})[W.SPLASH]
        self.desktop.click(splash, *W.SPLASH_OK)
        return self.wait_screen({W.MAIN})[W.MAIN]

    def fill_profile(self, main):
        p, d = self.profile, self.desktop
        d.replace_text(main, *W.MAIN_REAL_NAME, p["name"])
        d.replace_text(main, *W.MAIN_CITY, p["city"])
        d.replace_text(main, *W.MAIN_COUNTRY, p["country"])
        d.replace_text(main, *W.MAIN_AGE, p["age"])
        d.replace_text(main, *W.MAIN_EMAIL, p["email"])
        d.replace_text(main, *W.MAIN_DESCRIPTION, p["desc"])
        # The drop-down's list is a window of its own; once it is up it
        # takes the keys.
        before = set(d.windows(pid=self.proc.pid))
        d.click(main, *W.MAIN_SEX)
        popup = wait_until(lambda: set(d.windows(pid=self.proc.pid)) - before, 10,
                           f"{self.label}'s list of sexes to open")
        d.key("Down" if p["sex"] == "female" else "Up", "Return")
        wait_until(lambda: not popup & set(d.windows(pid=self.proc.pid)), 10,
                   f"{self.label}'s list of sexes to close")

    def register(self, main, others=()):
        """Presses Register on the main window; back at the query dialog once
        the server has this player. Returns the first query's outcome."""
        mark = self.server.log.mark()
        self.desktop.click(main, *W.MAIN_REGISTER)
        query = self.wait_screen({W.QUERY}, timeout=25)[W.QUERY]
        self.id = self.server.wait_registered(mark, exclude=others)
        return self.wait_listing(query, mark)

    def wait_listing(self, query, since, timeout=20, keep=None):
        """Waits for this player's next query in the server's log and for
        the list to show that many rows; returns the ids listed."""
        listed, expected, _ = self.server.wait_query(self.id, since, timeout, keep)
        if listed != len(expected):
            raise StepFailed(f"{self.label}: the server listed {listed}, but {len(expected)} "
                             f"players were registered besides ({expected})")
        # With nobody listed the dialog keeps its picture instead of the list.
        rows = wait_until(lambda: (lambda r: (r,) if len(r) == listed and r.shown == (listed > 0)
                                   else None)(self.rows(query)),
                          10, f"{self.label}'s list to show {listed} row(s)")[0]
        self.last_listing, self.last_rows = expected, rows
        return expected

    def rows(self, query):
        return ListRows(self.desktop.capture(query), *W.QUERY_LIST)

    def refresh(self, query, keep=None):
        mark = self.server.log.mark()
        # Refresh is enabled once the running query has ended; until then a
        # click does nothing and is repeated.
        for _ in range(10):
            self.desktop.click(query, *W.QUERY_REFRESH)
            try:
                return self.wait_listing(query, mark, timeout=3, keep=keep)
            except StepFailed:
                if self.server.log.matches(rf" {re.escape(self.id)} query for ", mark):
                    raise
        raise StepFailed(f"{self.label}: Refresh sent no query")

    def select(self, query, partner_id):
        """Clicks the row of partner_id in the list last shown."""
        if partner_id not in self.last_listing:
            raise StepFailed(f"{self.label}: {partner_id} is not in the list "
                             f"({self.last_listing})")
        index = self.last_listing.index(partner_id)
        self.desktop.click(query, *self.last_rows.centre(index))

    def offer(self, query, partner_id):
        self.select(query, partner_id)
        self.desktop.click(query, *W.QUERY_OFFER)
        return self.wait_screen({W.OFFERING})[W.OFFERING]

    def row_mask(self, index):
        return self.last_rows.mask(index)

    def profile_file(self):
        try:
            with open(os.path.join(self.install_dir, "VOSSA.INI"), errors="replace") as f:
                return f.read()
        except FileNotFoundError:
            return ""

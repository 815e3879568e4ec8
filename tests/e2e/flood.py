#!/usr/bin/env python3
"""Offers from nobody, by the hundred, at a real client on a virtual screen.

Two people register with the real lobby server. A host of its own address
then offers the first of them 200 games under made-up names, each on a
connection of its own that it drops once answered, as fast as it can. The
client must show one of those offers at a time, answer each request once
(the one on screen with the reason the player types), never bring a refused
one back, and go on answering "Look For", Refresh and a real offer from the
other person.

  flood.py --lobby L --vossad V --setup S --data D [--shots DIR] [--scratch DIR]

Exits 0 only when every step held.
"""

import argparse
import os
import selectors
import socket
import sys
import threading

sys.dont_write_bytecode = True  # nothing of a run is left in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import lobby_windows as W  # noqa: E402
from desktop import StepFailed, wait_until  # noqa: E402
from road import ADA, BLAISE, run  # noqa: E402

FLOOD_SIZE = 200
# What the agent lets one address hold of the requests waiting for the
# player (agent/transport/peer_limits.hpp).
PER_ADDRESS = 4
SIGNATURE = b"mR&2s7qV"


def frame(text):
    """One line as an agent writes it to another: signature, close marker
    and length prefix (docs/protocol.md)."""
    data = text.encode("latin-1")
    n = len(data)
    prefix = bytes([n]) if n < 255 else b"\xff" + n.to_bytes(2, "little")
    return SIGNATURE + b"\x00" + prefix + data


def lines(data):
    """The texts of the whole frames in data (short ones: all this test
    receives)."""
    out = []
    while len(data) >= 10 and data.startswith(SIGNATURE):
        n = data[9]
        if n == 255 or len(data) < 10 + n:
            break
        out.append(data[10:10 + n].decode("latin-1"))
        data = data[10 + n:]
    return out


class Flooder:
    """A host that offers games under made-up ids of its own address. It
    listens on the port each id names, so that it hears every answer sent
    to them."""

    def __init__(self, address, count):
        self.address = address
        self.listeners = []
        for _ in range(count):
            s = socket.socket()
            s.bind((address, 0))
            s.listen(8)
            s.setblocking(False)
            self.listeners.append(s)
        self.ports = [s.getsockname()[1] for s in self.listeners]
        self.replies = {}  # port -> what came back on the JOIN's own connection
        self.answers = {port: [] for port in self.ports}  # port -> lines heard there
        self._lock = threading.Lock()
        self._stop = False
        self._thread = threading.Thread(target=self._serve, daemon=True)
        self._thread.start()

    def request(self, port):
        return (f"ID={self.address}:{port};APP=QORCORVA;\x18VERSION=0.91b2;"
                f"REAL=Nobody {port};DESC=Offers and runs;")

    def offer_all(self, target):
        """One JOIN per id, one after the other, to target (host, port)."""
        for port in self.ports:
            with socket.create_connection(target, timeout=10,
                                          source_address=(self.address, 0)) as c:
                c.sendall(frame("JOIN " + self.request(port)))
                received = b""
                while True:
                    chunk = c.recv(4096)
                    if not chunk:
                        break
                    received += chunk
            got = lines(received)
            self.replies[port] = got[0] if got else None

    def heard(self):
        with self._lock:
            return {port: list(texts) for port, texts in self.answers.items()}

    def _serve(self):
        sel = selectors.DefaultSelector()
        for s in self.listeners:
            sel.register(s, selectors.EVENT_READ, ("listener", s.getsockname()[1]))
        buffers = {}
        while not self._stop:
            for key, _ in sel.select(0.1):
                kind, port = key.data
                if kind == "listener":
                    try:
                        conn, _ = key.fileobj.accept()
                    except BlockingIOError:
                        continue
                    conn.setblocking(False)
                    buffers[conn] = b""
                    sel.register(conn, selectors.EVENT_READ, ("answer", port))
                    continue
                try:
                    chunk = key.fileobj.recv(4096)
                except BlockingIOError:
                    continue
                except OSError:
                    chunk = b""
                if chunk:
                    buffers[key.fileobj] += chunk
                    continue
                sel.unregister(key.fileobj)
                with self._lock:
                    self.answers[port] += lines(buffers.pop(key.fileobj))
                key.fileobj.close()

    def close(self):
        self._stop = True
        self._thread.join(5)
        for s in self.listeners:
            s.close()


def flood_road(road):
    road.start_server()
    ada = road.start_client("A", ADA, side=0)
    blaise = road.start_client("B", BLAISE, side=1270)
    d = road.desktop
    view = {}
    flooder_address = next(f"127.0.0.{n}" for n in range(250, 2, -1)
                           if f"127.0.0.{n}" != road.server.address)
    flooder = Flooder(flooder_address, FLOOD_SIZE)

    def register_both():
        main = ada.leave_splash()
        ada.fill_profile(main)
        road.register(ada, main)
        main = blaise.leave_splash()
        blaise.fill_profile(main)
        road.register(blaise, main)
        road.expect_listing(blaise, [ADA])
        view["qa"] = ada.window(W.QUERY)
        view["qb"] = blaise.window(W.QUERY)
        ada.refresh(view["qa"])
        road.expect_listing(ada, [BLAISE])
    road.step("both register and each lists the other", register_both)

    def flooded():
        host, port = ada.id.rsplit(":", 1)
        flooder.offer_all((host, int(port)))
        taken = [p for p in flooder.ports if flooder.replies[p] is None]
        refused = [p for p in flooder.ports if (flooder.replies[p] or "").startswith("NAKJ")]
        if not 1 <= len(taken) <= PER_ADDRESS or len(taken) + len(refused) != FLOOD_SIZE:
            raise StepFailed(f"{len(taken)} requests passed to the player and {len(refused)} "
                             f"refused at once, of {FLOOD_SIZE}")
        view["taken"] = taken
        print(f"  {len(taken)} passed to the player, {len(refused)} refused at once", flush=True)
        offered = ada.wait_screen({W.OFFERED})[W.OFFERED]
        view["offered"] = offered
        road.moment("one offer")
        # The first one taken is on screen; those taken behind it are
        # refused by the client, once each.
        behind = {p: ["NAKJ Someone already has offered me a game"] for p in taken[1:]}
        wait_until(lambda: {p: t for p, t in flooder.heard().items() if t} == behind, 20,
                   "the requests behind the one shown to be refused")
        ada.wait_screen({W.OFFERED})
    road.step(f"{FLOOD_SIZE} offers from one address: one is shown, the others refused",
              flooded)

    def refused():
        mark = road.server.log.mark()
        d.replace_text(view["offered"], *W.OFFERED_REASON, "Not a real player")
        d.click(view["offered"], *W.OFFERED_REFUSE)
        shown = view["taken"][0]
        wait_until(lambda: flooder.heard()[shown] == ["NAKJ Not a real player"], 20,
                   "the offer shown to be refused with the typed reason")
        view["qa"] = ada.wait_screen({W.QUERY})[W.QUERY]
        ada.wait_listing(view["qa"], mark)
        road.expect_listing(ada, [BLAISE])
        # Each request had exactly one answer, and none is back on screen.
        heard = flooder.heard()
        twice = [p for p in flooder.ports if len(heard[p]) + (flooder.replies[p] is not None) != 1]
        if twice:
            raise StepFailed(f"requests not answered exactly once: {twice[:5]}")
        ada.wait_screen({W.QUERY})
    road.step("the offer shown is refused with its reason and nothing of the flood comes back",
              refused)

    def still_answers():
        query = view["qa"]
        d.click(query, *W.QUERY_LOOK_FOR)
        d.replace_text(query, *W.QUERY_CITY, "clermont")
        ada.refresh(query, keep=lambda pid: "clermont" in road.names[pid]["city"].lower())
        road.expect_listing(ada, [BLAISE])
        d.click(query, *W.QUERY_LOOK_FOR)
        ada.refresh(query)
        road.expect_listing(ada, [BLAISE])
    road.step('"Look For" and Refresh still answer', still_answers)

    def real_offer():
        blaise.offer(view["qb"], ada.id)
        offered = ada.wait_screen({W.OFFERED})[W.OFFERED]
        d.replace_text(offered, *W.OFFERED_REASON, "After dinner")
        d.click(offered, *W.OFFERED_REFUSE)
        ada.wait_screen({W.QUERY})
        shown, box = blaise.wait_screen({W.QUERY}, box=True)
        road.moment("declined")
        blaise.close_message_box(box)
        if any(len(t) > 1 for t in flooder.heard().values()):
            raise StepFailed("the flooding host was answered again")
    road.step("a real offer from another address is shown and answered", real_offer)

    flooder.close()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    for name in ("lobby", "vossad", "setup", "data"):
        parser.add_argument(f"--{name}", required=True)
    parser.add_argument("--shots", help="save a screenshot of each step here")
    parser.add_argument("--scratch", help="folder for homes and logs (default: a new one)")
    args = parser.parse_args()
    args.lobbybot, args.keep = None, False  # no console player in this road
    return run(args, flood_road, "flood")


if __name__ == "__main__":
    sys.exit(main())

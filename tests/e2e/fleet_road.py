#!/usr/bin/env python3
"""Two people on two servers of one fleet play a game, on a virtual screen.

Starts a redis-server of its own (persistence off) and two vossad instances
sharing their list through it, each on an address of its own; Ada's lobby
client registers at the first, Blaise's at the second. Each lists the other,
Ada offers, Blaise accepts, and the game is played to its end.

  fleet_road.py --lobby L --vossad V --setup S --data D [--shots DIR] [--scratch DIR] [--keep]
"""

import argparse
import os
import subprocess
import sys

sys.dont_write_bytecode = True  # nothing of a run is left in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import lobby_windows as W  # noqa: E402
from cast import Server, free_tcp_port  # noqa: E402
from desktop import StepFailed, wait_until  # noqa: E402
from road import ADA, BLAISE, play_accepted_offer, run  # noqa: E402


class FleetServer(Server):
    """One instance of the fleet. Its log shows its own players only; the
    model of what it lists adds those registered at the other instances."""

    def __init__(self, desktop, vossad, folder, store, name):
        os.makedirs(folder, exist_ok=True)
        self.peers = []
        super().__init__(desktop, vossad, folder, extra=("--store", store, "--instance", name))

    def registry(self, upto=None):
        own = super().registry(upto)
        return own + [p for peer in self.peers for p in Server.registry(peer) if p not in own]


def start_store(road):
    port = free_tcp_port()
    log = os.path.join(road.scratch, "redis.log")
    road.desktop.start(["redis-server", "--port", str(port), "--bind", "127.0.0.1", "--save", "",
                        "--appendonly", "no"], name="redis-server", log=log)

    def answers():
        probe = subprocess.run(["redis-cli", "-p", str(port), "PING"], capture_output=True, text=True)
        return probe.stdout.strip() == "PONG"
    wait_until(answers, 15, "redis-server to answer")
    return f"redis://127.0.0.1:{port}"


def fleet_road(road):
    store = start_store(road)
    one = FleetServer(road.desktop, road.args.vossad, os.path.join(road.scratch, "one"), store, "one")
    two = FleetServer(road.desktop, road.args.vossad, os.path.join(road.scratch, "two"), store, "two")
    one.peers, two.peers = [two], [one]
    # Each client is started with the server it registers at.
    road.server = one
    ada = road.start_client("A", ADA, side=0)
    road.server = two
    blaise = road.start_client("B", BLAISE, side=1270)
    road.server = one  # whose log a failure prints
    view = {}

    def register_both():
        main = ada.leave_splash()
        ada.fill_profile(main)
        road.register(ada, main)
        road.expect_listing(ada, [])
        main = blaise.leave_splash()
        blaise.fill_profile(main)
        road.register(blaise, main)
        road.expect_listing(blaise, [ADA])
        view["qa"] = ada.window(W.QUERY)
        # Blaise's registration reaches the first instance through the store.
        def listed():
            try:
                ada.refresh(view["qa"])
            except StepFailed:
                return False
            return ada.last_listing == [blaise.id]
        wait_until(listed, 30, "Ada's list to show Blaise, registered at the other server")
        road.expect_listing(ada, [BLAISE])
    road.step("each registers at a server of its own and lists the other", register_both)

    def played():
        play_accepted_offer(road, ada, blaise, view["qa"])
    road.step("an offer across the two servers is played to its end", played)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    for name in ("lobby", "vossad", "setup", "data"):
        parser.add_argument(f"--{name}", required=True)
    parser.add_argument("--shots", help="save a screenshot of each step here")
    parser.add_argument("--scratch", help="folder for homes and logs (default: a new one)")
    parser.add_argument("--keep", action="store_true", help="keep the scratch folder")
    return run(parser.parse_args(), fleet_road, label="fleet road")


if __name__ == "__main__":
    sys.exit(main())

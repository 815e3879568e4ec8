#!/usr/bin/env python3
"""The lobby used end to end, as people would, on a virtual screen.

Starts Xvfb with openbox, the real lobby server on an address of its own,
console players and real lobby clients (each with its own home,
installation directory and WIN.INI), and drives the clients with the mouse
and keyboard. Each step is checked by what is on screen (which windows each
client shows, the rows of its list, the discs on its board) and by what the
server and the console players log.

  road.py --lobby L --vossad V --lobbybot B --setup S --data D [--solo | --refresh]
          [--shots DIR] [--scratch DIR] [--keep]

Without an option it is the whole road with two people and a console player;
with --solo, the road of one person alone with two console players; with
--refresh, one person whose list follows, without Refresh, the others
coming and going. Exits 0
only when every step held; on a failure it saves a screenshot, prints where,
and prints the tails of the logs.
"""

import argparse
import os
import re
import shutil
import signal
import sys
import tempfile
import time

sys.dont_write_bytecode = True  # nothing of a run is left in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import lobby_windows as W  # noqa: E402
from cast import Bot, Client, Server, free_tcp_port  # noqa: E402
from desktop import Desktop, StepFailed, wait_until  # noqa: E402
from images import likeness  # noqa: E402
from play import GameWindow, play_out  # noqa: E402

ADA = dict(name="Ada Lovelace", city="London", country="UK", age="36", sex="female",
           email="ada@example.org", desc="Likes engines and a good game")
BLAISE = dict(name="Blaise Pascal", city="Clermont", country="France", age="39", sex="male",
              email="blaise@example.org", desc="Counts on wheels; plays after dinner")
GRETA = dict(name="Greta Lindqvist", city="Lyon", country="France", age="34", sex="female",
             email="greta@example.org", desc="Always up for a quick game")
TOMAS = dict(name="Tomas Berger", city="Vienna", country="Austria", age="41", sex="male",
             email="tomas@example.org", desc="Offers games to whoever is around")
REASON = "Busy baking bread"


class RoadFailed(Exception):
    pass


def slug(text):
    return re.sub(r"[^a-z0-9]+", "-", text.lower()).strip("-")[:48]


class Road:
    def __init__(self, args):
        self.args = args
        self.scratch = self.fresh_scratch(args.scratch)
        self.shots = args.shots
        if self.shots:
            os.makedirs(self.shots, exist_ok=True)
        self.number = 0
        self.moments = 0
        self.clients = []
        self.bots = []
        self.server = None
        self.names = {}  # player id -> profile
        self.desktop = Desktop()
        # One game listens at a time per port and host: a port of our own.
        self.game_env = {"CVENGINE_GAME_PORT": str(free_tcp_port())}

    @staticmethod
    def fresh_scratch(path):
        """A scratch folder with nothing of an earlier run in it: the logs are
        read from their first line on."""
        if not path:
            return tempfile.mkdtemp(prefix="lobby-road-")
        marker = os.path.join(path, ".lobby-road")
        if os.path.isdir(path) and os.listdir(path):
            if not os.path.exists(marker):
                raise StepFailed(f"{path} holds files that are not a road's; choose another")
            shutil.rmtree(path)
        os.makedirs(path, exist_ok=True)
        open(marker, "w").close()
        return path

    # -- running steps ------------------------------------------------------
    def step(self, name, action):
        self.number += 1
        self.moments = 0
        print(f"step {self.number}: {name}", flush=True)
        started = time.monotonic()
        try:
            action()
        except Exception as error:  # any fault fails the step with its evidence
            self.report_failure(name, error)
            raise RoadFailed(f"step {self.number} ({name}) did not hold: {error}")
        if self.shots:
            self.desktop.screenshot(os.path.join(self.shots, f"{self.number:02d}-{slug(name)}.png"))
        print(f"  held ({time.monotonic() - started:.1f} s)", flush=True)

    def moment(self, name):
        """A screenshot inside a step, of what it checks at that moment."""
        if self.shots:
            self.moments += 1
            self.desktop.screenshot(os.path.join(
                self.shots, f"{self.number:02d}{chr(ord('a') + self.moments - 1)}-{slug(name)}.png"))

    def report_failure(self, name, error):
        shot = os.path.join(self.shots or self.scratch, f"failed-{self.number:02d}-{slug(name)}.png")
        shot = self.desktop.screenshot(shot)
        print(f"  FAILED: {error}", flush=True)
        print(f"  screenshot: {shot or '(none could be taken)'}")
        for client in self.clients:
            try:
                print("\n".join("  " + line for line in client.describe().splitlines()))
            except Exception:  # the screen may be gone too
                pass
        logs = [("vossad", self.server.log if self.server else None)]
        logs += [(f"lobbybot {b.name}", b.log) for b in self.bots]
        logs += [(f"lobby {c.label}", c.err) for c in self.clients]
        for title, log in logs:
            if log is not None:
                print(f"  --- {title} ({log.path}), last lines:")
                print("\n".join("    " + line for line in log.tail(20).splitlines()))
        sys.stdout.flush()

    def close(self):
        self.desktop.close()

    # -- the cast -------------------------------------------------------------
    def start_server(self):
        self.server = Server(self.desktop, self.args.vossad, self.scratch)

    def start_bot(self, profile, *extra):
        bot = Bot(self.desktop, self.args.lobbybot, self.scratch, self.server, profile,
                  ["--games", "1", "--think-ms", "150", *extra], env=self.game_env)
        self.bots.append(bot)
        self.names[bot.id] = profile
        return bot

    def start_client(self, label, profile, side):
        client = Client(self.desktop, self.args, self.scratch, self.server, label, profile,
                        side, env=self.game_env)
        self.clients.append(client)
        return client

    def others_ids(self, client):
        return [b.id for b in self.bots] + [c.id for c in self.clients
                                            if c is not client and c.id]

    def register(self, client, main):
        listing = client.register(main, others=self.others_ids(client))
        self.names[client.id] = client.profile
        return listing

    def expect_listing(self, client, wanted):
        """The client's last list holds exactly these players (any order)."""
        names = sorted(self.names.get(i, {}).get("name", i) for i in client.last_listing)
        want = sorted(p["name"] for p in wanted)
        if names != want:
            raise StepFailed(f"{client.label} listed {names}, expected {want}")


def play_accepted_offer(road, ada, blaise, query):
    """Ada offers Blaise a game from her query dialog, he accepts, and Ada
    wins it with four in the first column; both see the result. Each
    client's own server sees its player leave for the game."""
    marks = {c: c.server.log.mark() for c in (ada, blaise)}
    ada.offer(query, blaise.id)
    offered = blaise.wait_screen({W.OFFERED})[W.OFFERED]
    road.desktop.click(offered, *W.OFFERED_ACCEPT)
    game_a = GameWindow(ada, BLAISE["name"])
    game_b = GameWindow(blaise, ADA["name"])
    # Playing takes both off the server.
    for client in (ada, blaise):
        client.server.log.wait_for(rf" {re.escape(client.id)} removed: ", since=marks[client])
    ada.wait_screen({game_a.title})
    blaise.wait_screen({game_b.title})
    # The offering side begins: four in the first column beat three in
    # the second.
    moves = [(game_a, game_b, 0), (game_b, game_a, 1)] * 3 + [(game_a, game_b, 0)]
    for number, (mover, partner, column) in enumerate(moves):
        mover.drop(column)
        placed = number // 2 + 1
        # Both boards agree: the disc is in the same column on the other.
        partner.wait_board(lambda b: b.count("theirs") == placed and
                           b.cells[column].count("theirs") == placed,
                           f"the partner's disc {placed} in column {column + 1}")
    game_a.wait_board(lambda b: b.winner() == "mine", "Ada's four as the winning one")
    game_b.wait_board(lambda b: b.winner() == "theirs", "Ada's four as the winning one")
    road.moment("won")
    game_a.press_exit()
    wait_until(lambda: game_a.gone() and game_b.gone(), 20, "both game windows to close")
    boxes = [client.wait_screen({W.MAIN}, box=True)[1] for client in (ada, blaise)]
    road.moment("result")
    for client, box in zip((ada, blaise), boxes):
        client.close_message_box(box)


# ---- the whole road: two people and a console player -------------------------------

def whole_road(road):
    road.start_server()
    greta = road.start_bot(GRETA)
    ada = road.start_client("A", ADA, side=0)
    blaise = road.start_client("B", BLAISE, side=1270)
    d = road.desktop
    view = {}

    def register_both():
        main = ada.leave_splash()
        ada.fill_profile(main)
        road.register(ada, main)
        road.expect_listing(ada, [GRETA])
        # The second copy has a lock of its own, so the single-instance
        # check never searched for (or renamed) the first one's window.
        main = blaise.leave_splash()
        if d.windows(W.RETITLED, visible=False):
            raise StepFailed("a window was renamed by the single-instance check")
        blaise.fill_profile(main)
        road.register(blaise, main)
        road.expect_listing(blaise, [GRETA, ADA])
        view["qa"] = ada.window(W.QUERY)
        view["qb"] = blaise.window(W.QUERY)
        ada.refresh(view["qa"])
        road.expect_listing(ada, [GRETA, BLAISE])
        for client, sex in ((ada, "1"), (blaise, "0")):
            if f"SEX={sex}" not in client.profile_file():
                raise StepFailed(f"{client.label}'s profile was saved without SEX={sex}")
    road.step("both register and each lists the other and the console player", register_both)

    def refused():
        ada.offer(view["qa"], blaise.id)
        offered = blaise.wait_screen({W.OFFERED})[W.OFFERED]
        mark_b = road.server.log.mark()
        d.replace_text(offered, *W.OFFERED_REASON, REASON)
        d.click(offered, *W.OFFERED_REFUSE)
        view["qb"] = blaise.wait_screen({W.QUERY})[W.QUERY]
        shown, box = ada.wait_screen({W.QUERY}, box=True)
        view["qa"] = shown[W.QUERY]
        road.moment("refused")
        # The query dialog came back and asks the server again.
        blaise.wait_listing(view["qb"], mark_b)
        mark_a = road.server.log.mark()
        ada.close_message_box(box)
        ada.wait_listing(view["qa"], mark_a)
        road.expect_listing(ada, [GRETA, BLAISE])
    road.step("an offer is refused with a typed reason", refused)

    def withdrawn():
        offering = ada.offer(view["qa"], blaise.id)
        blaise.wait_screen({W.OFFERED})
        mark_a = road.server.log.mark()
        d.click(offering, *W.OFFERING_CANCEL)
        view["qa"] = ada.wait_screen({W.QUERY})[W.QUERY]
        shown, box = blaise.wait_screen({W.QUERY}, box=True)
        road.moment("withdrawn")
        mark_b = road.server.log.mark()
        blaise.close_message_box(box)
        view["qb"] = blaise.window(W.QUERY)
        blaise.wait_listing(view["qb"], mark_b)
        road.expect_listing(blaise, [GRETA, ADA])
        # Ada's dialog came back by itself and asked again.
        ada.wait_listing(view["qa"], mark_a)
        road.expect_listing(ada, [GRETA, BLAISE])
    road.step("an offer is withdrawn and the other side is told", withdrawn)

    def accepted():
        play_accepted_offer(road, ada, blaise, view["qa"])
    road.step("an accepted offer is played to its end and both see the result", accepted)

    def against_the_bot():
        main = ada.window(W.MAIN)
        road.register(ada, main)
        road.expect_listing(ada, [GRETA])
        query = ada.window(W.QUERY)
        mark = greta.log.mark()
        ada.offer(query, greta.id)
        greta.log.wait_for(r"^accepted a game offered by Ada Lovelace", since=mark)
        game = GameWindow(ada, GRETA["name"])
        last = play_out(game)
        result = greta.log.wait_for(
            r"^match with Ada Lovelace over: onet, won (\d+) lost (\d+) drawn (\d+)", since=mark)
        won, lost, drawn = (int(v) for v in result.groups())
        if won + lost + drawn != 1:
            raise StepFailed(f"the console player counted {won + lost + drawn} games, not one")
        winner = last.winner() if last else None
        if (winner == "mine" and lost != 1) or (winner == "theirs" and won != 1):
            raise StepFailed(f"the board showed {winner} winning; the console player says "
                             f"won {won} lost {lost}")
        shown, box = ada.wait_screen({W.MAIN}, box=True)
        road.moment("result")
        ada.close_message_box(box)
    road.step("a whole game against the console player", against_the_bot)

    def look_for():
        road.register(blaise, blaise.window(W.MAIN))
        # Greta registers again after each match.
        wait_until(lambda: greta.id in road.server.registry(), 20, "Greta to register again")
        road.register(ada, ada.window(W.MAIN))
        road.expect_listing(ada, [GRETA, BLAISE])
        query = ada.window(W.QUERY)
        everybody = list(ada.last_listing)
        masks = [ada.row_mask(i) for i in range(len(everybody))]
        d.click(query, *W.QUERY_LOOK_FOR)
        d.replace_text(query, *W.QUERY_CITY, "lyon")
        ada.refresh(query, keep=lambda pid: "lyon" in road.names[pid]["city"].lower())
        road.expect_listing(ada, [GRETA])
        road.moment("found")
        # The one row shown is the one Greta had in the full list.
        shown = ada.row_mask(0)
        scores = [likeness(shown, m) for m in masks]
        best = max(range(len(scores)), key=scores.__getitem__)
        if everybody[best] != greta.id or sorted(scores)[-1] < 0.9 or \
                (len(scores) > 1 and sorted(scores)[-2] > 0.8):
            raise StepFailed(f"the row shown is not Greta's (likeness {scores})")
        # Without the group the fields count no more.
        d.click(query, *W.QUERY_LOOK_FOR)
        ada.refresh(query)
        road.expect_listing(ada, [GRETA, BLAISE])
    road.step('"Look For" by city lists only the players of that city', look_for)

    def server_lost():
        mark = greta.log.mark()
        status = road.server.stop()
        if status != 0:
            raise StepFailed(f"vossad ended with status {status}")
        greta.log.wait_for(r"^lost the server$", since=mark)
        boxes = [client.wait_screen({W.MAIN}, box=True)[1] for client in (blaise, ada)]
        road.moment("lost")
        for client, box in zip((blaise, ada), boxes):
            client.close_message_box(box)
    road.step("the server stops while both browse: both are told and back at the main window",
              server_lost)

    def exits():
        for client in (ada, blaise):
            d.click(client.window(W.MAIN), *W.MAIN_EXIT)
        for client in (ada, blaise):
            status = wait_until(lambda: client.proc.poll() is not None and
                                (client.proc.returncode,), 15, f"{client.label} to end")[0]
            if status != 0:
                raise StepFailed(f"{client.label}'s lobby ended with status {status}")
    road.step("both leave with Exit", exits)


# ---- alone: one person and two console players ------------------------------------------

def solo_road(road):
    road.start_server()
    greta = road.start_bot(GRETA)
    # Tomas offers games too, but not within the road's few minutes: an
    # offer at a moment of his choosing would make the road a race.
    road.start_bot(TOMAS, "--offer", "--offer-interval", "3600")
    ada = road.start_client("A", ADA, side=None)
    d = road.desktop
    view = {}

    def registers():
        main = ada.leave_splash()
        ada.fill_profile(main)
        road.register(ada, main)
        view["query"] = ada.window(W.QUERY)
    road.step("register", registers)

    def finds():
        road.expect_listing(ada, [GRETA, TOMAS])
    road.step("find the console players", finds)

    def plays():
        mark = greta.log.mark()
        ada.offer(view["query"], greta.id)
        greta.log.wait_for(r"^accepted a game offered by Ada Lovelace", since=mark)
        game = GameWindow(ada, GRETA["name"])
        road.moment("game")
        play_out(game)
        greta.log.wait_for(r"^match with Ada Lovelace over: onet", since=mark)
    road.step("offer a game to a console player and play it", plays)

    def result():
        shown, box = ada.wait_screen({W.MAIN}, box=True)
        view["box"] = box
    road.step("see the result", result)

    def leaves():
        ada.close_message_box(view["box"])
        d.click(ada.window(W.MAIN), *W.MAIN_EXIT)
        wait_until(lambda: ada.proc.poll() is not None, 15, "the client to end")
        if ada.proc.returncode != 0:
            raise StepFailed(f"the client ended with status {ada.proc.returncode}")
    road.step("leave with Exit", leaves)


# ---- the list kept current: one person watches others come and go -------------------------

def refresh_road(road):
    road.start_server()
    greta = road.start_bot(GRETA)
    tomas = road.start_bot(TOMAS)
    ada = road.start_client("A", ADA, side=0)
    blaise = road.start_client("B", BLAISE, side=1270)
    view = {}

    def selected_is(rows, index):
        if rows.selected != [index]:
            raise StepFailed(f"Ada's list shows row(s) {rows.selected} selected, expected [{index}]")

    def registers():
        main = ada.leave_splash()
        ada.fill_profile(main)
        road.register(ada, main)
        road.expect_listing(ada, [GRETA, TOMAS])
        view["query"] = ada.window(W.QUERY)
        ada.select(view["query"], greta.id)
        selected_is(wait_until(lambda: (lambda r: r.selected and r)(ada.rows(view["query"])), 10,
                               "Greta's row to be selected"), 0)
    road.step("register and pick the first player", registers)

    def newcomer():
        main = blaise.leave_splash()
        blaise.fill_profile(main)
        road.register(blaise, main)
        # Nobody presses Refresh: the next automatic query lists him.
        mark = road.server.log.mark()
        ada.wait_listing(view["query"], mark, timeout=12)
        road.expect_listing(ada, [GRETA, TOMAS, BLAISE])
        if ada.last_listing[-1] != blaise.id:
            raise StepFailed("the newcomer is not at the end of the list")
        road.moment("newcomer")
        selected_is(ada.last_rows, 0)
    road.step("a player who registers appears within 12 s, the selection stays", newcomer)

    def leaver():
        ada.select(view["query"], blaise.id)
        mark = road.server.log.mark()
        road.desktop.stop(tomas.proc)
        road.server.log.wait_for(rf" {re.escape(tomas.id)} removed: ", since=mark)
        ada.wait_listing(view["query"], road.server.log.mark(), timeout=12)
        road.expect_listing(ada, [GRETA, BLAISE])
        road.moment("leaver")
        # Blaise has moved up a row and is still the one picked: the offer
        # goes to him.
        selected_is(ada.last_rows, 1)
        d = road.desktop
        d.click(view["query"], *W.QUERY_OFFER)
        offering = ada.wait_screen({W.OFFERING})[W.OFFERING]
        blaise.wait_screen({W.OFFERED})
        d.click(offering, *W.OFFERING_CANCEL)
        ada.wait_screen({W.QUERY})
    road.step("a player who leaves disappears, the selection stays on the same player", leaver)


def run(args, body, label="road"):
    """Runs body(road) on a desktop of its own, which ends everything it
    started; 0 when every step held, 1 otherwise."""
    # A stop from outside (a time-out) still ends everything started here.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(3))
    road = None
    ok = False
    try:
        road = Road(args)
        print(f"{label}: display {road.desktop.display}, scratch {road.scratch}", flush=True)
        body(road)
        ok = True
    except RoadFailed as failure:
        print(f"{label}: {failure}", flush=True)
    except StepFailed as failure:
        print(f"{label}: could not set the scene: {failure}", flush=True)
    finally:
        if road is not None:
            road.close()
            if ok and not args.keep and not args.scratch:
                shutil.rmtree(road.scratch, ignore_errors=True)
            elif not ok:
                print(f"{label}: logs and homes kept in {road.scratch}")
    if args.shots:
        print(f"{label}: screenshots in {os.path.abspath(args.shots)}")
    print(f"{label}: every step held" if ok else f"{label}: FAILED")
    return 0 if ok else 1


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    for name in ("lobby", "vossad", "lobbybot", "setup", "data"):
        parser.add_argument(f"--{name}", required=True)
    parser.add_argument("--solo", action="store_true")
    parser.add_argument("--refresh", action="store_true",
                        help="the road of a list kept current by the automatic refresh")
    parser.add_argument("--shots", help="save a screenshot of each step here")
    parser.add_argument("--scratch", help="folder for homes and logs (default: a new one)")
    parser.add_argument("--keep", action="store_true", help="keep the scratch folder")
    args = parser.parse_args()
    return run(args, solo_road if args.solo else refresh_road if args.refresh else whole_road)


if __name__ == "__main__":
    sys.exit(main())

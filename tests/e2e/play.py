"""Playing Connect Four through the game window, with the mouse.

What the window shows tells everything needed: the board's place (its
frame), the discs in it, whose turn it is (the disc about to drop hangs
above the board only while this player may choose) and who won (the
winning four is outlined).
"""

import lobby_windows as W
from desktop import StepFailed, wait_until
from images import Board

# The Exit button sits in the bottom right corner of the game window.
EXIT_FROM_CORNER = (50, 22)
# Columns a player without a plan tries first: the middle ones.
PREFERENCE = (3, 2, 4, 1, 5, 0, 6)


class GameWindow:
    def __init__(self, client, partner_name, timeout=30):
        self.client, self.desktop = client, client.desktop
        self.title = W.GAME_PREFIX + partner_name
        self.wid = client.window(self.title, timeout)
        client.screen()  # moves it to its owner's side

    def gone(self):
        return not self.desktop.windows(self.title, self.client.proc.pid)

    def board(self):
        """The board as shown now, or None when it cannot be read."""
        board = Board(self.desktop.capture(self.wid))
        return board if board.readable else None

    def wait_board(self, predicate, what, timeout=20, allow_gone=False):
        """The first board that satisfies predicate. If the window closes
        meanwhile: None with allow_gone, else the step fails."""
        def look():
            if self.gone():
                return "gone"
            board = self.board()
            if board is None and self.gone():  # closed while it was captured
                return "gone"
            return board if board is not None and predicate(board) else None
        found = wait_until(look, timeout, f"{self.client.label}'s board to show {what}",
                           interval=0.1)
        if found == "gone":
            if allow_gone:
                return None
            raise StepFailed(f"{self.client.label}'s game window closed while waiting for "
                             f"the board to show {what}")
        return found

    def drop(self, column, timeout=20, allow_end=False):
        """Points at column, waits for this player's turn, clicks, and waits
        for the disc to land; returns the board after the move. With
        allow_end a game that ends first (or a window that closes) returns
        the last board (or None) instead of failing."""
        board = self.wait_board(lambda b: True, "the board", allow_gone=allow_end)
        if board is None:
            return None
        if not board.has_room(column):
            raise StepFailed(f"{self.client.label}: column {column + 1} is full")
        x, y = board.click_point(column)
        self.desktop.point(self.wid, x, y)
        board = self.wait_board(lambda b: b.your_turn() or b.winner() or b.full(),
                                "the player's turn", timeout, allow_gone=allow_end)
        if board is None or not board.your_turn():
            if allow_end:
                return board
            raise StepFailed(f"{self.client.label}'s game ended before its move into "
                             f"column {column + 1}")
        mine = board.count("mine")
        self.desktop.click(self.wid, x, y)
        return self.wait_board(lambda b: b.count("mine") == mine + 1,
                               f"disc {mine + 1} in column {column + 1}", 10,
                               allow_gone=allow_end)

    def press_exit(self):
        geometry = self.desktop.geometry(self.wid)
        self.desktop.click(self.wid, geometry.width - EXIT_FROM_CORNER[0],
                           geometry.height - EXIT_FROM_CORNER[1])


def choose_column(board):
    for column in PREFERENCE:
        if board.has_room(column):
            return column
    raise StepFailed("no column has room")


def play_out(game):
    """Plays against a partner who answers by itself, until the window
    closes. Returns the last board seen (None if none could be read)."""
    last = None
    # Each of us drops at most 21 discs; every wait below is bounded.
    for _ in range(22):
        board = game.wait_board(lambda b: True, "the board", allow_gone=True)
        if board is None:
            break
        last = board
        if board.winner() or board.full():
            break
        after = game.drop(choose_column(board), timeout=30, allow_end=True)
        if after is not None:
            last = after
    else:
        raise StepFailed("the game went on past a full board")
    # The match ends once the partner declines another game.
    wait_until(game.gone, 20, "the game window to close")
    return last

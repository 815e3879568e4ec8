"""Reading what a window shows from a capture of it, without OCR.

An Image is a window's pixels (from a binary PPM). On top of it: the rows of
a list box (each a band of text; the mask of a row's text tells two names
apart) and the game board (the frame's colour gives its place, the centre
of each hole the disc in it).
"""

import re


class Image:
    def __init__(self, width, height, data):
        self.width, self.height, self.data = width, height, data

    @classmethod
    def from_ppm(cls, raw):
        m = re.match(rb"P6\s+(?:#[^\n]*\n\s*)*(\d+)\s+(\d+)\s+(\d+)\s", raw or b"")
        if not m or int(m.group(3)) != 255:
            return None
        width, height = int(m.group(1)), int(m.group(2))
        data = raw[m.end():m.end() + width * height * 3]
        if len(data) != width * height * 3:
            return None
        return cls(width, height, data)

    def pixel(self, x, y):
        i = (y * self.width + x) * 3
        return self.data[i], self.data[i + 1], self.data[i + 2]


def near(colour, target, tolerance=40):
    return all(abs(a - b) <= tolerance for a, b in zip(colour, target))


def _bright(colour):
    return min(colour) >= 170


# ---- list boxes ------------------------------------------------------------

NAVY = (0, 0, 128)
HIGHLIGHT = (70, 130, 220)  # the selected row's background


class ListRows:
    """The rows of text in a list box at (left, top, width, height) of image."""

    def __init__(self, image, left, top, width, height):
        self.shown = False
        self.bands = []
        self.selected = []  # indexes of the rows drawn as selected
        if image is None:
            return
        # A list shows its field colour in the bottom corner; the picture
        # that stands in for it while nobody is listed does not.
        corner = image.pixel(left + width - 6, top + height - 6)
        self.shown = near(corner, NAVY, 30)
        if not self.shown:
            return
        x0, x1 = left + 3, left + width - 20  # leave out a scroll bar
        masks = []
        for y in range(top + 2, top + height - 2):
            row = tuple(x for x in range(x0, x1) if _bright(image.pixel(x, y)))
            masks.append((y, row))
        band, gap = [], 0
        for y, row in masks + [(None, ())]:
            if row:
                # A descender can stand apart from its letter by a faint
                # line; a gap that small is still the same row.
                if band and gap > 2:
                    self.bands.append(band)
                    band = []
                band.append((y, row))
                gap = 0
            else:
                gap += 1
        if band:
            self.bands.append(band)
        # A selected row's background shows between its letters.
        for index, band in enumerate(self.bands):
            behind = [image.pixel(x, y) for y, row in band for x in range(x0, x1, 3)
                      if x not in row]
            if behind and sum(near(c, HIGHLIGHT, 40) for c in behind) > len(behind) // 2:
                self.selected.append(index)

    def __len__(self):
        return len(self.bands)

    def centre(self, index):
        band = self.bands[index]
        return (band[0][1][0] + 4, (band[0][0] + band[-1][0]) // 2)

    def mask(self, index):
        """The text of row index as a set of (x, y) from its band's top."""
        band = self.bands[index]
        top = band[0][0]
        return {(x, y - top) for y, row in band for x in row}


def likeness(a, b):
    """How alike two text masks are: 1 for the same text, near 0 for others."""
    if not a or not b:
        return 0.0
    # Antialiasing on a highlighted row differs from a plain one by a pixel
    # here and there; a pixel's neighbour counts as a hit.
    def hits(p, q):
        return sum(1 for (x, y) in p if any((x + dx, y + dy) in q
                                            for dx in (-1, 0, 1) for dy in (-1, 0, 1)))
    return min(hits(a, b) / len(a), hits(b, a) / len(b))


# ---- the game board ------------------------------------------------------------

COLUMNS, ROWS = 7, 6
FRAME = (31, 79, 184)
FRAME_LIT = (70, 110, 196)  # the column under the pointer
HOLE = (232, 238, 248)
MINE = (214, 45, 45)      # this player's discs
THEIRS = (242, 193, 46)   # the partner's
WINNING = (40, 200, 90)   # the outline of the winning four


class Board:
    """The board in a capture of the game window: None where no board shows."""

    def __init__(self, image):
        self.image = image
        self.left = self.top = self.cell = None
        self.cells = None
        if image is None:
            return
        xs, ys = [], []
        step = 2
        for y in range(0, image.height, step):
            for x in range(0, image.width, step):
                colour = image.pixel(x, y)
                if near(colour, FRAME, 12) or near(colour, FRAME_LIT, 12):
                    xs.append(x)
                    ys.append(y)
        if len(xs) < 500:
            return
        left, right, top, bottom = min(xs), max(xs), min(ys), max(ys)
        cell = (right - left + step) / COLUMNS
        if cell < 12 or abs((bottom - top + step) / ROWS - cell) > 3:
            return
        self.left, self.top, self.cell = left, top, cell
        self.cells = [[self._disc(c, r) for r in range(ROWS)] for c in range(COLUMNS)]

    def _disc(self, column, row):
        x, y = self.hole_centre(column, row)
        colour = self.image.pixel(x, y)
        for name, target in (("mine", MINE), ("theirs", THEIRS), ("empty", HOLE)):
            if near(colour, target, 45):
                return name
        return "?"

    @property
    def readable(self):
        return self.cells is not None and all("?" not in col for col in self.cells)

    def hole_centre(self, column, row):
        """Row 0 is the bottom row."""
        return (int(self.left + (column + 0.5) * self.cell),
                int(self.top + (ROWS - 1 - row + 0.5) * self.cell))

    def click_point(self, column):
        """Where a click drops a disc into column: its top hole."""
        return self.hole_centre(column, ROWS - 1)

    def count(self, who):
        return sum(col.count(who) for col in self.cells)

    def has_room(self, column):
        return self.cells[column][ROWS - 1] == "empty"

    def full(self):
        return not any(self.has_room(c) for c in range(COLUMNS))

    def your_turn(self):
        """Whether the disc about to drop hangs above the board: it does while
        the player may choose a column (and the one pointed at has room)."""
        y0, y1 = int(self.top - self.cell * 0.85), int(self.top - self.cell * 0.15)
        x0, x1 = int(self.left), int(self.left + self.cell * COLUMNS)
        for y in range(max(0, y0), max(0, y1), 3):
            for x in range(max(0, x0), min(self.image.width, x1), 3):
                r, g, b = self.image.pixel(x, y)
                if r > 180 and r - g > 60 and r - b > 60:
                    return True
        return False

    def winner(self):
        """Whose four is outlined as the winning one: "mine", "theirs" or None."""
        marked = {"mine": 0, "theirs": 0}
        edge = int(self.cell * 0.42)
        for c in range(COLUMNS):
            for r in range(ROWS):
                who = self.cells[c][r]
                if who not in marked:
                    continue
                x, y = self.hole_centre(c, r)
                if any(near(self.image.pixel(x + dx, y + dy), WINNING, 50)
                       for dx, dy in ((edge, 0), (-edge, 0), (0, edge), (0, -edge))):
                    marked[who] += 1
        best = max(marked, key=marked.get)
        return best if marked[best] >= 4 else None

    def __str__(self):
        signs = {"mine": "X", "theirs": "O", "empty": ".", "?": "?"}
        return "\n".join("".join(signs[self.cells[c][r]] for c in range(COLUMNS))
                         for r in reversed(range(ROWS)))

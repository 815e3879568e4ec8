"""Where a person clicks in the lobby client's windows, and what they are called.

Positions are client-area pixels of each window: the centres of the
components as the windows lay them out.
"""

SPLASH = "QOR's Corvane Game"
MAIN = "QOR's Corvane Game - Entering the Vossa"
SERVERS = "Choosing a Server..."
QUERY = "Entering the Vossa..."
OFFERING = "Offering a game to Remote, please wait..."
OFFERED = "Remote is offering a game..."
MESSAGE = "QOR's Corvane Game - Message"
GAME_PREFIX = "QOR's Corvane Game v091.b2 - Connected to "
# What the single-instance check renames a window it finds to.
RETITLED = "zzzzzzz2"

# The lobby's own windows, each 640 by 480 (the incoming offer 484 high).
FORM_WIDTH, FORM_HEIGHT = 640, 484


def centre(left, top, width, height):
    return (left + width // 2, top + height // 2)


# The splash window.
SPLASH_OK = centre(280, 400, 81, 41)

# The main window.
MAIN_REAL_NAME = centre(160, 88, 177, 21)
MAIN_CITY = centre(344, 88, 145, 21)
MAIN_COUNTRY = centre(200, 112, 105, 21)
MAIN_AGE = centre(344, 112, 33, 21)
MAIN_SEX = centre(416, 112, 73, 21)
MAIN_EMAIL = centre(200, 136, 289, 21)
MAIN_DESCRIPTION = centre(160, 176, 329, 65)
MAIN_SERVER = centre(536, 200, 81, 41)
MAIN_EXIT = centre(544, 5, 75, 38)
MAIN_REGISTER = centre(288, 392, 86, 41)

# The server dialog.
SERVERS_FIELD = centre(96, 192, 441, 21)
SERVERS_OK = centre(16, 296, 85, 41)
SERVERS_CANCEL = centre(120, 296, 85, 41)

# The query dialog. The list's rows are found on screen (their height
# comes from the font).
QUERY_LIST = (280, 72, 137, 169)
QUERY_REFRESH = centre(304, 264, 81, 41)
QUERY_OFFER = centre(304, 312, 81, 41)
QUERY_LOOK_FOR = centre(488, 288, 65, 65)
QUERY_EXIT = centre(538, 6, 74, 36)
# The fields of the "Look For" group, which sits at (424, 56).
_LOOK_FOR = (424, 56)
QUERY_NAME = centre(_LOOK_FOR[0] + 48, _LOOK_FOR[1] + 24, 145, 21)
QUERY_CITY = centre(_LOOK_FOR[0] + 48, _LOOK_FOR[1] + 48, 145, 21)

# The outgoing offer.
OFFERING_CANCEL = centre(288, 288, 86, 40)

# The incoming offer.
OFFERED_ACCEPT = centre(152, 248, 85, 41)
OFFERED_REFUSE = centre(272, 248, 85, 41)
OFFERED_REASON = centre(128, 312, 241, 21)

# The message box: borderless, 281 x 168, its OK inside the navy group at
# (8, 8). It has no title of its own.
MESSAGE_SIZE = (281, 168)
MESSAGE_OK = centre(8 + 96, 8 + 120, 75, 25)

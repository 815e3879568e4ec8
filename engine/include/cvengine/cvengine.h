/*
 * cvengine.h - public C API of the game engine library.
 *
 * The lobby client starts a game with its partner through CVRunGame and, once
 * the engine has told it that the game is over, fetches the engine's closing
 * message with CVGetMsg.
 *
 * Conventions:
 *  1. Both functions are called on the host's loop thread (platform.h) and
 *     return at once; no exception leaves them.
 *  2. CVRunGame: partnerAddress is "l" on the accepting side (the engine
 *     listens for its partner) and the partner's dotted IPv4 address on the
 *     offering side (the engine connects to it). The window title is shown on
 *     the game window. When the engine has something for the host it posts
 *     notifyMessage (wparam and lparam 0) to notifyWindow with
 *     plat_post_message.
 *  3. CVGetMsg writes "MES=<code>;LOC=<games won here>;REM=<games won by the
 *     partner>;" into a buffer of CV_MSG_SIZE bytes, never more than
 *     CV_MSG_SIZE - 1 characters and always terminated. Codes: "onet" (a game
 *     ended and one of the players wanted no further game), "exit" (this
 *     player pressed Exit or closed the window), "uexi" (the partner left),
 *     "disc" (the connection broke, went silent or carried garbage), "note"
 *     (the partner could not be reached, or the game port is taken by
 *     another game on this host). Each message is handed out once.
 *  4. One game runs at a time in a process. The engine closes its window
 *     before it posts notifyMessage. The game, its port (2430, or
 *     $CVENGINE_GAME_PORT) and its protocol: docs/game.md.
 */
#ifndef CVENGINE_CVENGINE_H
#define CVENGINE_CVENGINE_H

#include <stdint.h>

#if defined(CVENGINE_BUILDING)
#define CV_API __attribute__((visibility("default")))
#else
#define CV_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* A platform window handle (the same type as plat_hwnd in platform.h). */
typedef uintptr_t CV_HWND;

#define CV_MSG_SIZE 50

/* Starts a game; returns 0 when the game window opened, else nonzero: 2 when
 * a game is already running (nothing is posted; that game goes on), 1 when
 * the game cannot begin (port taken, no usable partner address, no Qt
 * application), which is also reported at once as "note". dataDir and
 * reserved are not needed by this engine. */
CV_API int CVRunGame(const char *partnerAddress, const char *dataDir,
                     const char *soundFile, const char *windowTitle,
                     int reserved, CV_HWND notifyWindow,
                     unsigned int notifyMessage);
/* Fetches the engine's last message; returns 0, or nonzero when buffer is
 * NULL (an empty text is written when no message is waiting). */
CV_API int CVGetMsg(char *buffer);

#ifdef __cplusplus
}
#endif

#endif /* CVENGINE_CVENGINE_H */

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
 *     ended and the players chose not to play again), "exit" (this player
 *     left), "uexi" (the partner left), "disc" (the connection broke), "note"
 *     (the partner could not be reached).
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

/* Starts a game; returns 0 when the game window opened, else nonzero. */
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

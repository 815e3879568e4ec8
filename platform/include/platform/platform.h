/*
 * platform.h - public C API of the platform layer.
 *
 * The agent library and the client were designed around a window-message
 * loop: sockets report through the loop, the agent tells the client about new
 * messages by posting a message to one of the client's windows, and profile
 * files hold configuration. This header is the stand-in for those facilities
 * on Linux. It is plain C so that a console program, a test or another
 * language's FFI can host the agent library.
 *
 * Conventions:
 *  1. One loop per process. Window handles, posted messages and socket
 *     notifications all belong to it and are delivered on the thread that
 *     runs plat_dispatch / plat_pump (the "loop thread").
 *  2. A window handle is a nonzero number handed out by plat_window_create.
 *     Handles are never reused, so a stale handle is simply "not a window".
 *  3. plat_post_message may be called from any thread. Messages are delivered
 *     later, in posting order, to the window's callback; a message for a
 *     window destroyed before delivery is dropped.
 *  4. plat_loop_fd is readable exactly when plat_dispatch has work. Another
 *     event loop can watch it (level-triggered) and call plat_dispatch.
 *     plat_dispatch may be re-entered from a callback (a nested pump).
 *  5. Strings are NUL-terminated 8-bit text. Output buffers are always
 *     NUL-terminated when their size is at least 1.
 *  6. Profile and file paths may be written Windows-style ("C:\dir\f.ini");
 *     they are translated with plat_native_path (see docs/architecture.md).
 */
#ifndef PLATFORM_PLATFORM_H
#define PLATFORM_PLATFORM_H

#include <stddef.h>
#include <stdint.h>

#if defined(PLATFORM_BUILDING)
#define PLAT_EXPORT __attribute__((visibility("default")))
#else
#define PLAT_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- windows and posted messages ------------------------------------- */

typedef uintptr_t plat_hwnd;

/* Called on the loop thread for each message delivered to a window. */
typedef void (*plat_wndproc)(plat_hwnd hwnd, unsigned msg, uintptr_t wparam,
                             intptr_t lparam, void *user);

/* Creates a window with its callback; returns 0 when proc is NULL. */
PLAT_EXPORT plat_hwnd plat_window_create(plat_wndproc proc, void *user);
/* Destroys a window; messages still queued for it are dropped. */
PLAT_EXPORT void plat_window_destroy(plat_hwnd hwnd);
/* Nonzero when hwnd names a window that exists. */
PLAT_EXPORT int plat_is_window(plat_hwnd hwnd);
/* Queues msg for hwnd; returns nonzero when queued (hwnd existed). */
PLAT_EXPORT int plat_post_message(plat_hwnd hwnd, unsigned msg,
                                  uintptr_t wparam, intptr_t lparam);

/* ---- the loop ---------------------------------------------------------- */

/* Descriptor that is readable while the loop has work; -1 on failure. */
PLAT_EXPORT int plat_loop_fd(void);
/* Runs everything that is ready now, without waiting. Returns the number of
 * callbacks run. Re-entrant. */
PLAT_EXPORT int plat_dispatch(void);
/* Waits up to timeout_ms (negative: no limit) for work, then dispatches.
 * Returns the number of callbacks run; returns at once after plat_quit. */
PLAT_EXPORT int plat_pump(int timeout_ms);
/* Asks plat_pump / plat_run to return; safe from any thread. */
PLAT_EXPORT void plat_quit(void);
/* Nonzero once plat_quit was called; plat_reset_quit clears it. */
PLAT_EXPORT int plat_quit_requested(void);
PLAT_EXPORT void plat_reset_quit(void);

/* ---- bounded waits ------------------------------------------------------ */

/* Connects and sends wait inside the call, but never longer than this bound
 * (milliseconds; default 5000). A wait that runs out fails the call. */
PLAT_EXPORT void plat_set_io_timeout_ms(int ms);
PLAT_EXPORT int plat_io_timeout_ms(void);

/* ---- profile files ----------------------------------------------------- */

/* Reads key in section of an INI file into buf (cut to size - 1 characters).
 * Section and key match without regard to case; surrounding blanks of the
 * value are stripped; a missing file, section or key gives def (stripped as
 * well). Returns the number of characters written, NUL excluded. */
PLAT_EXPORT unsigned plat_get_private_profile_string(const char *section,
                                                     const char *key,
                                                     const char *def, char *buf,
                                                     unsigned size,
                                                     const char *file);
/* Writes key=value into section, creating the file and the section when
 * missing and replacing only that key's line. value NULL deletes the key.
 * Returns nonzero on success. A file that is not a regular file, or is over
 * 1 MiB, is no profile: it reads as missing and is never rewritten. */
PLAT_EXPORT int plat_write_private_profile_string(const char *section,
                                                  const char *key,
                                                  const char *value,
                                                  const char *file);
/* The same for the per-user WIN.INI (see plat_win_ini_path). */
PLAT_EXPORT unsigned plat_get_profile_string(const char *section,
                                             const char *key, const char *def,
                                             char *buf, unsigned size);
PLAT_EXPORT int plat_write_profile_string(const char *section, const char *key,
                                          const char *value);
/* Native path of WIN.INI: $LOBBY_WIN_INI if set, else
 * $XDG_CONFIG_HOME/lobby/WIN.INI (default ~/.config/lobby/WIN.INI). */
PLAT_EXPORT unsigned plat_win_ini_path(char *buf, unsigned size);

/* ---- paths -------------------------------------------------------------- */

/* Translates a Windows-style path to a native one (see docs/architecture.md):
 * backslashes become slashes, a drive "X:" maps to the drive's folder, and
 * each existing component is matched without regard to case. Returns the
 * length written, or 0 when buf is too small. */
PLAT_EXPORT unsigned plat_native_path(const char *path, char *buf,
                                      unsigned size);

/* ---- single instance ---------------------------------------------------- */

/* Creates or opens the named semaphore. *existed is set nonzero when it was
 * already held by a running process. Returns a handle (>= 0) or -1. */
PLAT_EXPORT int plat_semaphore_create(const char *name, int *existed);
PLAT_EXPORT void plat_semaphore_close(int handle);
/* The top-level window search that goes with it is in platform/top_window.h
 * (library platform_x11). */

#ifdef __cplusplus
}
#endif

#endif /* PLATFORM_PLATFORM_H */

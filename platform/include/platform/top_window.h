/* top_window.h - the top-level window search of the single-instance check
 * (public; library platform_x11, the only part of the platform layer that
 * needs Xlib, so that programs without windows do without it). */
#ifndef PLATFORM_TOP_WINDOW_H
#define PLATFORM_TOP_WINDOW_H

#include "platform/platform.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Finds a top-level window of the display with this exact title; when
 * new_title is not NULL, retitles it. Returns nonzero when one was found.
 * Of several, the one highest in the stack is found (a window just made is
 * above all others). Without a display nothing is ever found. */
PLAT_EXPORT int plat_find_top_window(const char *title, const char *new_title);

#ifdef __cplusplus
}
#endif

#endif /* PLATFORM_TOP_WINDOW_H */

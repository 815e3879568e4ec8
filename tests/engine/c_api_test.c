/* The engine's C API used from plain C, through the shared library: the
 * header compiles as C, CVGetMsg's empty and NULL cases, and a game that
 * cannot start in a host without a Qt application still reports "note" to
 * the notification window, so that the host is never left waiting. */
#include <stdio.h>
#include <string.h>

#include "cvengine/cvengine.h"
#include "platform/platform.h"

static int posts;

static void on_message(plat_hwnd hwnd, unsigned msg, uintptr_t w, intptr_t l, void *user) {
  (void)hwnd;
  (void)user;
  if (msg == 514 && w == 0 && l == 0) ++posts;
}

#define CHECK(cond)                                           \
  do {                                                        \
    if (!(cond)) {                                            \
      fprintf(stderr, "%s:%d: %s\n", __FILE__, __LINE__, #cond); \
      return 1;                                               \
    }                                                         \
  } while (0)

int main(void) {
  char buffer[CV_MSG_SIZE];
  memset(buffer, 'x', sizeof buffer);
  CHECK(CVGetMsg(buffer) == 0);
  CHECK(buffer[0] == '\0');
  CHECK(CVGetMsg(NULL) != 0);

  plat_hwnd window = plat_window_create(on_message, NULL);
  CHECK(window != 0);
  CHECK(CVRunGame("l", "DATA", "Zudeduzu.wav", "title", 0, window, 514) != 0);
  for (int i = 0; i < 100 && posts == 0; ++i) plat_pump(10);
  CHECK(posts == 1);
  CHECK(CVGetMsg(buffer) == 0);
  CHECK(strcmp(buffer, "MES=note;LOC=0;REM=0;") == 0);
  plat_window_destroy(window);
  return 0;
}

/* The agent's C API used from a plain C program, as another language's
 * host would: open a session, read its status, fail to join a server that is
 * not there, read the queued answer, leave. Prints "N passed, N failed". */
#include <stdio.h>
#include <string.h>

#include "platform/platform.h"
#include "zep/zep.h"

static int passed, failed;
static int notified;

#define CHECK(cond)                                            \
  do {                                                         \
    if (cond) {                                                \
      ++passed;                                                \
    } else {                                                   \
      ++failed;                                                \
      fprintf(stderr, "%s:%d: %s\n", __FILE__, __LINE__, #cond); \
    }                                                          \
  } while (0)

static void on_notify(plat_hwnd hwnd, unsigned msg, uintptr_t w, intptr_t l, void *user) {
  (void)hwnd;
  (void)w;
  (void)l;
  (void)user;
  if (msg == 514) ++notified;
}

int main(void) {
  char list[] = "/tmp/zep-c-test-SERVERS.INI";
  char id[ZEP_PLAYERID_SIZE], text[ZEP_TEXT_SIZE], more[ZEP_TEXT_SIZE];
  int handle = -1, status = 0, type = 0, i;
  plat_hwnd window = plat_window_create(on_notify, NULL);

  CHECK(ZEPOpenSession(&handle, 0, "QORCORVA", "REAL=C;", "version.dll", window, 514, list) == ZEP_RET_OK);
  CHECK(handle == 0);
  CHECK(ZEPGetSessionServerStatus(handle, &status) == ZEP_RET_OK && status == ZEP_SS_NOSRV);
  CHECK(ZEPGetSessionSubGroupStatus(handle, &status) == ZEP_RET_OK && status == ZEP_SG_NOSG);
  /* Port 1 on loopback: nothing listens there. */
  CHECK(ZEPJoinServer(handle, "127.0.0.1", 1) == ZEP_RET_CONNECTFAILED);
  for (i = 0; i < 100 && notified == 0; ++i) plat_pump(10);
  CHECK(notified == 1);
  CHECK(ZEPGetNextMessage(handle, id, &type, text, more) == ZEP_RET_OK);
  CHECK(strcmp(id, "SERVER") == 0 && type == ZEP_MT_JOINSRVRESPONSE);
  CHECK(strcmp(text, "FAIL") == 0 && strcmp(more, "  ") == 0);
  CHECK(ZEPGetNextMessage(handle, id, &type, text, more) == ZEP_RET_NOMSG);
  CHECK(ZEPLeaveSession(handle) == ZEP_RET_OK);
  CHECK(ZEPLeaveSession(handle) == ZEP_RET_INVALIDSESSION);
  plat_window_destroy(window);

  printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}

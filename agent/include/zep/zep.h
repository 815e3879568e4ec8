/*
 * zep.h - the public C API of the agent library zep.
 *
 * The agent is the lobby client's only way to the network: it keeps sessions,
 * registers with a lobby server, queries the players registered there, forms
 * subgroups with other agents and carries short user messages between them.
 *
 * Conventions:
 *  1. Every function returns a result code from the ZEP_ constant space
 *     (ZEP_RET_OK on success) and never lets an exception out. Checks run in
 *     a fixed order: the handle (ZEP_RET_INVALIDSESSION), then that the
 *     session is open (ZEP_RET_NOTOPENSESSION), then the function's own
 *     preconditions.
 *  2. A session handle is the index 0..99 of a slot in a process-wide table.
 *     ZEPOpenSession takes the lowest empty slot and writes the handle even
 *     when opening fails afterwards; only ZEPLeaveSession empties a slot.
 *     Operations other than ZEPLeaveSession on a session whose opening failed
 *     part-way return ZEP_RET_AGENTPROBLEM.
 *  3. Strings are NUL-terminated 8-bit text. The caller owns what it passes
 *     in; the agent copies what it keeps and never writes to an input string.
 *  4. ZEPGetNextMessage writes into the caller's buffers, which must hold
 *     ZEP_PLAYERID_SIZE (100), ZEP_TEXT_SIZE (500) and ZEP_TEXT_SIZE (500)
 *     bytes. Queued texts are cut to fit (99 and 499 characters); a text the
 *     agent has no value for reads as two blanks ("  ").
 *  5. Outcomes that need the network (registration, query answers, join
 *     answers, lost connections, user messages) never come back as results:
 *     they are queued as messages.
 *  6. The agent announces messages by posting the message number the client
 *     chose to the platform window the client gave (platform.h), with both
 *     parameters 0, once each time its queue goes from empty to not empty.
 *     The client must then read until ZEP_RET_NOMSG.
 *  7. All calls, and the platform loop that delivers the agent's socket
 *     notifications, run on one thread.
 */
#ifndef ZEP_ZEP_H
#define ZEP_ZEP_H

#include <stdint.h>

#if defined(ZEP_BUILDING)
#define ZEP_API __attribute__((visibility("default")))
#else
#define ZEP_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* A platform window handle (the same type as plat_hwnd in platform.h). */
typedef uintptr_t ZEP_HWND;

#define ZEP_PLAYERID_SIZE 100
#define ZEP_TEXT_SIZE 500

/* Agent status */
#define ZEP_AS_READY 10000
#define ZEP_AS_NO_NET 10001
#define ZEP_AS_BUSY 10002
#define ZEP_AS_MAXLOAD 10003
#define ZEP_AS_NO_SERVER 10004
/* Server status */
#define ZEP_SS_NOSRV 10005
#define ZEP_SS_INSRV 10006
#define ZEP_SS_CONNECTING 10007
/* Subgroup status */
#define ZEP_SG_NOSG 10008
#define ZEP_SG_JOINING 10009
#define ZEP_SG_OWNER 10010
#define ZEP_SG_MEMBER 10011
/* Message types */
#define ZEP_MT_NODELIVERY 10012
#define ZEP_MT_JOINSRVRESPONSE 10013
#define ZEP_MT_QUERYRESPONSE 10014
#define ZEP_MT_USERDESC 10015
#define ZEP_MT_JOINRESPONSE 10016
#define ZEP_MT_ADDPLAYER 10017
#define ZEP_MT_OWNER 10018
#define ZEP_MT_REMPLAYER 10019
#define ZEP_MT_LOSTSERVER 10020
#define ZEP_MT_LOSTOWNER 10021
#define ZEP_MT_LOSTOWNED 10022
#define ZEP_MT_USERMSG 10023
/* Results */
#define ZEP_RET_OK 10024
#define ZEP_RET_INVALIDSESSION 10025
#define ZEP_RET_INVALIDPOINTER 10026
#define ZEP_RET_AGENTPROBLEM 10027
#define ZEP_RET_TOOMANYSESSIONS 10028
#define ZEP_RET_INVALIDCALLBACK 10029
#define ZEP_RET_INVALIDRETCODE 10030
#define ZEP_RET_INVALIDSTRING 10031
#define ZEP_RET_INVALIDPLAYERID 10032
#define ZEP_RET_ILLEGALPLAYER 10033
#define ZEP_RET_INSERVER 10034
#define ZEP_RET_NOTINSERVER 10035
#define ZEP_RET_INSUBGROUP 10036
#define ZEP_RET_NOTINSUBGROUP 10037
#define ZEP_RET_ALREADYINQUERY 10038
#define ZEP_RET_NOQUERYACTIVE 10039
#define ZEP_RET_NOREQUESTACTIVE 10040
#define ZEP_RET_NOMSG 10041
#define ZEP_RET_ALREADYOWNER 10042
#define ZEP_RET_ALREADYPLAYER 10043
#define ZEP_RET_ALREADYWAIT 10044
#define ZEP_RET_PLAYERACTIVE 10045
#define ZEP_RET_PLAYERLEAVE 10046
#define ZEP_RET_NOTOPENSESSION 10047
#define ZEP_RET_ALREADYOPENSESSION 10048
#define ZEP_RET_CONNECTFAILED 10049

/* Sessions and messages */
ZEP_API int ZEPOpenSession(int *handle, int reserved, const char *appName,
                           const char *userDescription, const char *reservedText,
                           ZEP_HWND notifyWindow, unsigned int notifyMessage,
                           const char *serverListPath);
ZEP_API int ZEPLeaveSession(int handle);
ZEP_API int ZEPGetSessionServerStatus(int handle, int *status);
ZEP_API int ZEPGetSessionSubGroupStatus(int handle, int *status);
ZEP_API int ZEPGetNextMessage(int handle, char *playerId, int *type, char *text,
                              char *moreInfo);
ZEP_API int ZEPSetResponseStatus(int handle, int status, int refusePending,
                                 const char *reason);
ZEP_API int ZEPGetResponseStatus(int handle, int *status);

/* The lobby server */
ZEP_API int ZEPJoinServer(int handle, const char *address, int port);
ZEP_API int ZEPLeaveServer(int handle);
ZEP_API int ZEPQueryUsers(int handle, const char *filter, int maxAnswers,
                          void *reserved1, void *reserved2);
ZEP_API int ZEPAbortQuery(int handle);

/* Subgroups and user messages */
ZEP_API int ZEPJoinSubGroup(int handle, const char *playerText);
ZEP_API int ZEPAbortSubGroupJoinRequest(int handle);
ZEP_API int ZEPAcceptSubGroupJoinRequest(int handle, const char *requestText,
                                         int accept, const char *reason);
ZEP_API int ZEPLeaveSubGroup(int handle);
ZEP_API int ZEPSendMsgToUser(int handle, const char *playerId,
                             const char *message);
ZEP_API int ZEPGetPlayerSubGroupStatus(int handle, const char *playerId,
                                       int *status);

#ifdef __cplusplus
}
#endif

#endif /* ZEP_ZEP_H */

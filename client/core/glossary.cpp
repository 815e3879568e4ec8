#include "glossary.hpp"

#include <array>
#include <string_view>

namespace lobby {

namespace {

struct Definition {
  std::string_view name;
  std::string_view explanation;
};

constexpr int kFirstCode = 10000;

// One row per value from 10000 on. 10049 (ZEP_RET_CONNECTFAILED) is left out
// on purpose: the agent produces it, but its readers have never had a text
// for it, so it reads as an undefined code.
constexpr std::array<Definition, 49> kDefinitions{{
    {"ZEP_AS_READY", "Everything's OK - you may open a session"},
    {"ZEP_AS_NO_NET", "Agent has no access to Internet"},
    {"ZEP_AS_BUSY", "Agent too busy (e.g. searching for server). Try again later."},
    {"ZEP_AS_MAXLOAD", "Agent has reached maximum load (e.g. max number of sessions)"},
    {"ZEP_AS_NO_SERVER", "Agent has found no server"},
    {"ZEP_SS_NOSRV", "Not connected to a server"},
    {"ZEP_SS_INSRV", "Connected to a server"},
    {"ZEP_SS_CONNECTING", "Waiting for response from server"},
    {"ZEP_SG_NOSG", "I'm not in a subgroup / other player is not in my subgroup"},
    {"ZEP_SG_JOINING", "I'm in the process of joining a subgroup / NA"},
    {"ZEP_SG_OWNER", "I'm a member of a subgroup / other player is a member of my subgroup"},
    {"ZEP_SG_MEMBER", "I'm a member of a subgroup / other player is a member of my subgroup"},
    {"ZEP_MT_NODELIVERY", "Indicates that a message could not be delivered. "},
    {"ZEP_MT_JOINSRVRESPONSE",
     "Result of ZEPJoinServer. The text may include \"ACKJ\" (OK), \"NAKJ\" (server refused) or \"FAIL\" "
     "(can't connect to server), and moreInfo may include some explanation."},
    {"ZEP_MT_QUERYRESPONSE",
     "See the agent-server protocol. May include \"QROK\" (OK) or QRFL (fail) or QRAB (aborted by client's "
     "request). moreInfo may include some explanation."},
    {"ZEP_MT_USERDESC", "The text includes \"ID=<id>;OWN=<owner id>;\". moreInfo contains user description."},
    {"ZEP_MT_JOINRESPONSE", "Result of requesting to join someone. "},
    {"ZEP_MT_ADDPLAYER",
     "Notification of an additional player in the subgroup. The text contains \"ID=<id>\" and moreInfo "
     "contains the user description."},
    {"ZEP_MT_OWNER",
     "Notification of who is the owner of the subgroup. The text contains \"ID=<id>\" and moreInfo contains "
     "the user description."},
    {"ZEP_MT_REMPLAYER",
     "Notification of removal of player from the subgroup. The text contains \"ID=<id>\" and moreInfo may "
     "contain some explanation."},
    {"ZEP_MT_LOSTSERVER",
     "Notification of loss of connection with server. The text contains \"SRLS\". moreInfo may contain some "
     "explanation."},
    {"ZEP_MT_LOSTOWNER",
     "Notification of loss of connection with owner. The text contains \"ID=<id>\" for the owner. moreInfo "
     "may contain some explanation."},
    {"ZEP_MT_LOSTOWNED",
     "Notification of loss of connection with owned agent (received only by subgroup owner). The text "
     "contains \"ID=<id>\" for the owned. moreInfo may contain some explanation."},
    {"ZEP_MT_USERMSG",
     "App-specific message from another user. Text includes user message, MoreInfo includes PlayerId of "
     "sender."},
    {"ZEP_RET_OK", "API call completed successfully."},
    {"ZEP_RET_INVALIDSESSION", "Invalid session handle passed to API call."},
    {"ZEP_RET_INVALIDPOINTER", "Invalid pointer passed to API call."},
    {"ZEP_RET_AGENTPROBLEM", "Agent cannot satisfy user request due to connection problems."},
    {"ZEP_RET_TOOMANYSESSIONS",
     "Cannot open a session because the agent is already connected to its maximum number of sessions."},
    {"ZEP_RET_INVALIDCALLBACK",
     "The pointer to the callback structure is invalid, or the contents of the callback structure are "
     "invalid"},
    {"ZEP_RET_INVALIDRETCODE", "The return code passed to the API call is invalid."},
    {"ZEP_RET_INVALIDSTRING", "The string pointer passed to the API call is invalid."},
    {"ZEP_RET_INVALIDPLAYERID", "The playerID passed to API call is invalid."},
    {"ZEP_RET_ILLEGALPLAYER",
     "Attempt to send a message or get a description of a player not in your subgroup while not being "
     "connected to the server."},
    {"ZEP_RET_INSERVER",
     "This operation (e.g. ZEPJoinSever) is out of context since you're connected to a server."},
    {"ZEP_RET_NOTINSERVER",
     "This operation (e.g. ZEPLeaveServer) is out of context since you're not connected to a server."},
    {"ZEP_RET_INSUBGROUP",
     "This operation (e.g. ZEPJoinSubGroup) is out of context since you're in a subgroup."},
    {"ZEP_RET_NOTINSUBGROUP",
     "This operation (e.g. ZEPLeaveSubGroup) is out of context since you're not in a subgroup."},
    {"ZEP_RET_ALREADYINQUERY", "A query is already active. Can't start another query."},
    {"ZEP_RET_NOQUERYACTIVE", "You called ZEPAborQuery but you had no active query."},
    {"ZEP_RET_NOREQUESTACTIVE", "You called ZEPAbortSubGroupJoinRequest but you had no active join request."},
    {"ZEP_RET_NOMSG", "Client attempted to read, count or skip items when there is no current message."},
    {"ZEP_RET_ALREADYOWNER", "No explanation available"},
    {"ZEP_RET_ALREADYPLAYER", "No explanation available"},
    {"ZEP_RET_ALREADYWAIT", "No explanation available"},
    {"ZEP_RET_PLAYERACTIVE", "No explanation available"},
    {"ZEP_RET_PLAYERLEAVE", "No explanation available"},
    {"ZEP_RET_NOTOPENSESSION", "No explanation available"},
    {"ZEP_RET_ALREADYOPENSESSION", "No explanation available"},
}};

}  // namespace

GlossaryEntry LookUpCode(int value) {
  GlossaryEntry entry{std::to_string(value) + " - Not a defined code", "No explanation given"};
  const long index = static_cast<long>(value) - kFirstCode;
  if (index >= 0 && index < static_cast<long>(kDefinitions.size())) {
    const Definition& d = kDefinitions[static_cast<std::size_t>(index)];
    entry.displayName = std::to_string(value) + " - " + std::string(d.name);
    entry.explanation = std::string(d.explanation);
  }
  return entry;
}

}  // namespace lobby

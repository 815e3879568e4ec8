// Opening the agent session, joining the server, and leaving at exit.
#include <string>

#include "client_core.hpp"
#include "client_values.hpp"
#include "glossary.hpp"
#include "profile_files.hpp"
#include "sound.hpp"
#include "zep/zep.h"

namespace lobby {

bool ClientCore::OpenAgentSession(plat_hwnd notifyWindow, const Profile& profile) {
  ClientValues& v = Values();
  if (!v.SessionFlag) return false;
  // The first registration passes the initial handle 0; the answer does not
  // matter either way.
  ZEPLeaveSession(v.SessionHandle);
  const std::string record = BuildDescriptionRecord(profile);
  const std::string serverList = v.InstallDir + "SERVERS.INI";
  const int opened = ZEPOpenSession(&v.SessionHandle, 0, kApplicationName, record.c_str(), "version.dll",
                                    notifyWindow, kNotifyMessage, serverList.c_str());
  if (opened != ZEP_RET_OK) {
    const GlossaryEntry code = LookUpCode(opened);
    ui_.FatalMessage(
        std::string("Problem Loading the Agent ZEP.DLL ! There is probably something wrong with your TCP/IP "
                    "settings (Internet connection).  Write down the following error code and send it to ") +
        kSupportAddress + ". Error Code : " + code.displayName + " " + code.explanation);
    return false;
  }
  std::string server = ReadIniString("QORServers", "CurrentServer", serverList);
  if (server.empty()) server = kDefaultServerAddress;
  const ServerAddress address = ParseServerAddress(server);
  return ZEPJoinServer(v.SessionHandle, address.host.c_str(), address.port) == ZEP_RET_OK;
}

void ClientCore::ExitSequence() {
  ui_.DestroySplash();
  ExitFromLobby();
}

void ClientCore::ExitFromLobby() {
  ClientValues& v = Values();
  HandleEvent(Event::evLeave);
  StopAllSound();
  if (v.SessionFlag) {
    ZEPLeaveSession(v.SessionHandle);
    v.SessionFlag = false;
  }
  ui_.QuitLoop();
}

}  // namespace lobby

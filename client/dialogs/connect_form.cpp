#include "connect_form.hpp"

namespace lobby {

TConnect::TConnect(FormContext context) : LobbyForm("Entering the Vossa...", 640, 480), context_(context) {}

}  // namespace lobby

namespace lobby {

void TConnect::SetQueryTimer(bool) {}
void TConnect::SetRefreshTimer(bool) {}
void TConnect::EnableRefreshButton() {}
void TConnect::EnableConnectButton() {}
bool TConnect::ListQueryResult(const std::string&) { return false; }
std::string TConnect::RemoteNameCaption() const { return {}; }

}  // namespace lobby

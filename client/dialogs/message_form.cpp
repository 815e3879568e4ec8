#include "message_form.hpp"

namespace lobby {

TMessageF::TMessageF(FormContext context) : LobbyForm("", 281, 168, Frame::Borderless), context_(context) {}

}  // namespace lobby

namespace lobby {

void TMessageF::ShowText(LobbyForm*, const std::string&) {}

}  // namespace lobby

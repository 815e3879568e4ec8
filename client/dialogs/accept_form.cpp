#include "accept_form.hpp"

namespace lobby {

TAcceptF::TAcceptF(FormContext context) : LobbyForm("Remote is offering a game...", 640, 484), context_(context) {}

}  // namespace lobby

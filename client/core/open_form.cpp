#include "open_form.hpp"

namespace lobby {

TOpen::TOpen(FormContext context) : LobbyForm("QOR's Corvane Game", 640, 480), context_(context) {}

}  // namespace lobby

#include "server_form.hpp"

namespace lobby {

TServerF::TServerF(FormContext context) : LobbyForm("Choosing a Server...", 640, 480), context_(context) {}

}  // namespace lobby

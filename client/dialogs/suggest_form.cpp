#include "suggest_form.hpp"

namespace lobby {

TSuggestF::TSuggestF(FormContext context) : LobbyForm("Offering a game to Remote, please wait...", 640, 480), context_(context) {}

}  // namespace lobby

#include "test_form.hpp"

namespace lobby {

TTest::TTest(FormContext context) : LobbyForm("QOR's Corvane Game - Entering the Vossa", 640, 480), context_(context) {}

}  // namespace lobby

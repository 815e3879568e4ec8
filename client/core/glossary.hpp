// glossary.hpp - names and explanations of the agent's constants (internal).
//
// The client tells the player which agent call failed and why with these
// texts: the display name ("10025 - ZEP_RET_INVALIDSESSION") and the
// explanation of any value of the agent's constant space.
#pragma once

#include <string>

namespace lobby {

struct GlossaryEntry {
  std::string displayName;
  std::string explanation;
};

// Any value: a defined one yields its name and explanation; any other yields
// "<value> - Not a defined code" and "No explanation given".
GlossaryEntry LookUpCode(int value);

}  // namespace lobby

#include "client_values.hpp"

namespace lobby {

namespace {
ClientValues& Storage() {
  static ClientValues values;
  return values;
}
}  // namespace

ClientValues& Values() { return Storage(); }

void ResetValues() { Storage() = ClientValues{}; }

}  // namespace lobby

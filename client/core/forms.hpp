// forms.hpp - the client's seven windows, reachable from each other
// (internal).
//
// The forms are created once at start-up in the order of the members below
// and kept until exit; a pointer is null until its form is created (and the
// splash window's again once it is destroyed at exit).
#pragma once

namespace lobby {

class TOpen;
class TTest;
class TServerF;
class TSuggestF;
class TAcceptF;
class TMessageF;
class TConnect;
class ClientCore;

struct Forms {
  TOpen* Open = nullptr;
  TTest* Test = nullptr;
  TServerF* ServerF = nullptr;
  TSuggestF* SuggestF = nullptr;
  TAcceptF* AcceptF = nullptr;
  TMessageF* MessageF = nullptr;
  TConnect* Connect = nullptr;
};

// What every form's constructor gets: the state machine and its siblings.
struct FormContext {
  ClientCore& core;
  Forms& forms;
};

}  // namespace lobby

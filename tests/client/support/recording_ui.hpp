// recording_ui.hpp - a stand-in for the client's windows that writes what
// the state machine asks of them into the call recorder's log, for tests
// that drive the state machine without a window.
#pragma once

#include <set>
#include <string>

#include "call_recorder.hpp"
#include "core/client_ui.hpp"

namespace recorder {

inline const char* FormName(lobby::Form form) {
  switch (form) {
    case lobby::Form::Open: return "TOpen";
    case lobby::Form::Test: return "TTest";
    case lobby::Form::Server: return "TServerF";
    case lobby::Form::Suggest: return "TSuggestF";
    case lobby::Form::Accept: return "TAcceptF";
    case lobby::Form::Message: return "TMessageF";
    case lobby::Form::Connect: return "TConnect";
  }
  return "?";
}

class RecordingUi : public lobby::ClientUi {
 public:
  std::set<lobby::Form> visible;
  std::string remoteName = "Partner";
  bool listResult = true;
  bool fatal = false;
  bool background = false;

  bool IsFormVisible(lobby::Form form) const override { return visible.count(form) != 0; }
  void ShowForm(lobby::Form form) override {
    visible.insert(form);
    R().calls.push_back(std::string("Show(") + FormName(form) + ")");
  }
  void ShowFormAgain(lobby::Form form) override {
    visible.insert(form);
    R().calls.push_back(std::string("ShowAgain(") + FormName(form) + ")");
  }
  void HideForm(lobby::Form form) override {
    visible.erase(form);
    R().calls.push_back(std::string("Hide(") + FormName(form) + ")");
  }
  void ShowMessage(std::optional<lobby::Form> owner, const std::string& text) override {
    R().calls.push_back(std::string("Message(") + (owner ? FormName(*owner) : "none") + ", " + Quoted(text.c_str()) +
                        ")");
  }
  void FatalMessage(const std::string& text) override {
    fatal = true;
    R().calls.push_back("Fatal(" + Quoted(text.c_str()) + ")");
  }
  void DestroySplash() override { R().calls.push_back("DestroySplash()"); }
  void QuitLoop() override { R().calls.push_back("Quit()"); }
  bool InBackground() const override { return background; }
  void CallPlayerBack(lobby::Form form, const std::string& summary, const std::string& body) override {
    R().calls.push_back(std::string("CallBack(") + FormName(form) + ", " + Quoted(summary.c_str()) + ", " +
                        Quoted(body.c_str()) + ")");
  }
  void SetQueryTimer(bool on) override { R().calls.push_back(std::string("QueryTimer(") + (on ? "on" : "off") + ")"); }
  void SetRefreshTimer(bool on) override {
    R().calls.push_back(std::string("RefreshTimer(") + (on ? "on" : "off") + ")");
  }
  void QueryEnded() override { R().calls.push_back("QueryEnded()"); }
  void EnableConnectButton() override { R().calls.push_back("EnableConnect()"); }
  bool ListQueryResult(const std::string& text) override {
    R().calls.push_back("List(" + Quoted(text.c_str()) + ")");
    return listResult;
  }
  std::string RemoteNameCaption() const override { return remoteName; }
  plat_hwnd AgentMessageWindow() const override { return 1; }
  plat_hwnd HangmanWindow() const override { return 2; }
};

}  // namespace recorder

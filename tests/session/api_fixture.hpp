// api_fixture.hpp - what the session API tests share: every session slot
// left empty after each test, and a server list file of the test's own.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "session_client.hpp"

namespace testsupport {

class ApiTest : public ::testing::Test {
 protected:
  void TearDown() override {
    // Leave nothing behind for the next test: every slot empty again.
    for (int h = 0; h < 100; ++h) ZEPLeaveSession(h);
  }
  TempDir dir;
  std::string list = dir.File("SERVERS.INI");
};

}  // namespace testsupport

// The asynchronous Redis client on the platform loop, against a real
// redis-server: commands, the timeout of one that gets no answer, losing
// the server and finding it again, AUTH; and reading store URLs.
#include <gtest/gtest.h>
#include <hiredis/hiredis.h>

#include <optional>
#include <string>

#include "../support/raw_peer.hpp"
#include "../support/redis_process.hpp"
#include "fleet/redis_client.hpp"
#include "platform/event_loop.hpp"

namespace {

using namespace std::chrono_literals;
using testsupport::PumpUntil;
using testsupport::RedisServer;
using vossad::RedisAddress;
using vossad::RedisClient;

struct Probe {
  int ups = 0;
  int downs = 0;
};

RedisAddress At(const RedisServer& server) {
  RedisAddress address;
  address.port = static_cast<std::uint16_t>(server.port());
  return address;
}

RedisClient::Timing Quick() {
  RedisClient::Timing timing;
  timing.commandTimeout = 300ms;
  timing.connectTimeout = 300ms;
  timing.firstBackoff = 20ms;
  timing.maxBackoff = 100ms;
  return timing;
}

// Runs a command and waits for its answer: the reply's text, "(null)" for
// a failed command, "(error) ..." for an error reply.
std::string Ask(RedisClient& client, const std::vector<std::string>& args) {
  std::optional<std::string> answer;
  client.Command(args, [&](const redisReply* r) {
    if (r == nullptr) {
      answer = "(null)";
    } else if (r->type == REDIS_REPLY_INTEGER) {
      answer = std::to_string(r->integer);
    } else if (r->type == REDIS_REPLY_ERROR) {
      answer = "(error) " + std::string(r->str, r->len);
    } else {
      answer = r->str != nullptr ? std::string(r->str, r->len) : std::string("(nil)");
    }
  });
  PumpUntil([&] { return answer.has_value(); });
  return answer.value_or("(no answer)");
}

TEST(RedisClient, RunsCommandsWithBinaryArgumentsOnTheLoop) {
  RedisServer server;
  Probe probe;
  RedisClient client(platform::EventLoop::Default(), At(server), Quick(), [&] { ++probe.ups; }, [&] { ++probe.downs; });
  EXPECT_EQ(Ask(client, {"PING"}), "(null)") << "not connected yet";
  client.Start();
  ASSERT_TRUE(PumpUntil([&] { return client.up(); }));
  EXPECT_EQ(probe.ups, 1);
  const std::string binary("a\0b\r\nc", 6);
  EXPECT_EQ(Ask(client, {"SET", "k", binary}), "OK");
  EXPECT_EQ(Ask(client, {"GET", "k"}), binary);
  EXPECT_EQ(Ask(client, {"INCR", "n"}), "1");
  EXPECT_EQ(Ask(client, {"NOSUCH"}).rfind("(error)", 0), 0u);
}

TEST(RedisClient, ACommandWithoutAnswerTimesOutAndTheClientReconnects) {
  RedisServer server;
  Probe probe;
  RedisClient client(platform::EventLoop::Default(), At(server), Quick(), [&] { ++probe.ups; }, [&] { ++probe.downs; });
  client.Start();
  ASSERT_TRUE(PumpUntil([&] { return client.up(); }));
  // Blocks far longer than the command timeout; an answer would be "(nil)".
  EXPECT_EQ(Ask(client, {"BLPOP", "nothing", "30"}), "(null)");
  EXPECT_EQ(probe.downs, 1);
  ASSERT_TRUE(PumpUntil([&] { return client.up(); }));
  EXPECT_EQ(probe.ups, 2);
  EXPECT_EQ(Ask(client, {"PING"}), "PONG");
}

TEST(RedisClient, AnOversizedReplyDropsTheConnectionAndTheClientReconnects) {
  RedisServer server;
  Probe probe;
  RedisClient client(platform::EventLoop::Default(), At(server), Quick(), [&] { ++probe.ups; }, [&] { ++probe.downs; });
  client.Start();
  ASSERT_TRUE(PumpUntil([&] { return client.up(); }));
  // A 9 MiB value, as a corrupt or hostile store could hold.
  EXPECT_EQ(Ask(client, {"SETRANGE", "big", std::to_string(9 * 1024 * 1024), "x"}), std::to_string(9 * 1024 * 1024 + 1));
  EXPECT_EQ(Ask(client, {"GET", "big"}), "(null)");
  EXPECT_EQ(probe.downs, 1);
  ASSERT_TRUE(PumpUntil([&] { return client.up(); }));
  EXPECT_EQ(Ask(client, {"GETRANGE", "big", "-1", "-1"}), "x");
}

TEST(RedisClient, RepliesOfManyAndLargeElementsReadIntactAndAHugeCountDropsTheConnection) {
  RedisServer server;
  RedisClient client(platform::EventLoop::Default(), At(server), Quick(), [] {}, [] {});
  client.Start();
  ASSERT_TRUE(PumpUntil([&] { return client.up(); }));
  // Small and large strings, nested: a reply is built in blocks of the
  // connection's, a large string in one of its own.
  const std::string large(100 * 1024, 'L');
  for (int round = 0; round < 2; ++round) {
    ASSERT_EQ(Ask(client, {"DEL", "l"}), round == 0 ? "0" : "1");
    for (int i = 0; i < 3000; ++i) Ask(client, {"RPUSH", "l", i == 1500 ? large : "v" + std::to_string(i)});
    std::optional<bool> intact;
    client.Command({"EVAL", "return {redis.call('LRANGE', 'l', 0, -1), 7, {'x'}}", "0"}, [&](const redisReply* r) {
      bool ok = r != nullptr && r->type == REDIS_REPLY_ARRAY && r->elements == 3;
      const redisReply* list = ok ? r->element[0] : nullptr;
      ok = ok && list->type == REDIS_REPLY_ARRAY && list->elements == 3000 && r->element[1]->integer == 7 &&
           r->element[2]->elements == 1 && std::string(r->element[2]->element[0]->str) == "x";
      for (std::size_t i = 0; ok && i < 3000; ++i) {
        const std::string want = i == 1500 ? large : "v" + std::to_string(i);
        ok = std::string(list->element[i]->str, list->element[i]->len) == want;
      }
      intact = ok;
    });
    ASSERT_TRUE(PumpUntil([&] { return intact.has_value(); }));
    EXPECT_TRUE(*intact) << "round " << round;
  }

  // A store that announces an array of two thousand million elements.
  testsupport::RawPeer fake;
  RedisAddress address;
  address.port = static_cast<std::uint16_t>(fake.Listen());
  Probe probe;
  RedisClient victim(platform::EventLoop::Default(), address, Quick(), [&] { ++probe.ups; }, [&] { ++probe.downs; });
  victim.Start();
  ASSERT_TRUE(fake.Accept());
  ASSERT_TRUE(fake.WaitForBytes(14));  // the handshake's PING
  fake.Send("+PONG\r\n");
  ASSERT_TRUE(PumpUntil([&] { return victim.up(); }));
  std::optional<bool> answered;
  victim.Command({"GET", "k"}, [&](const redisReply* r) { answered = r != nullptr; });
  ASSERT_TRUE(fake.WaitForBytes(14 + 20));  // and the GET
  fake.Send("*2000000000\r\n:1\r\n");
  ASSERT_TRUE(PumpUntil([&] { return answered.has_value(); }));
  EXPECT_FALSE(*answered);
  EXPECT_EQ(probe.downs, 1);
}

TEST(RedisClient, ServerStoppedAndStartedAgainIsFoundAgain) {
  RedisServer server;
  Probe probe;
  RedisClient client(platform::EventLoop::Default(), At(server), Quick(), [&] { ++probe.ups; }, [&] { ++probe.downs; });
  client.Start();
  ASSERT_TRUE(PumpUntil([&] { return client.up(); }));
  server.Stop();
  EXPECT_EQ(Ask(client, {"PING"}), "(null)");
  ASSERT_TRUE(PumpUntil([&] { return probe.downs == 1; }));
  testsupport::PumpAWhile(20);  // several failed attempts, each after a backoff
  EXPECT_FALSE(client.up());
  ASSERT_TRUE(server.Start());
  ASSERT_TRUE(PumpUntil([&] { return client.up(); }));
  EXPECT_EQ(probe.ups, 2);
  EXPECT_EQ(Ask(client, {"PING"}), "PONG");
}

TEST(RedisClient, AuthenticatesWithThePasswordAndStaysDownWithAWrongOne) {
  RedisServer server({"--requirepass", "s3cret"});
  RedisAddress good = At(server);
  good.password = "s3cret";
  good.db = 2;
  RedisClient client(platform::EventLoop::Default(), good, Quick(), {}, {});
  client.Start();
  ASSERT_TRUE(PumpUntil([&] { return client.up(); }));
  EXPECT_EQ(Ask(client, {"SET", "k", "v"}), "OK");
  EXPECT_NE(server.Cli({"-a", "s3cret", "-n", "2", "GET", "k"}).find('v'), std::string::npos);

  RedisAddress bad = At(server);
  bad.password = "wrong";
  RedisClient refused(platform::EventLoop::Default(), bad, Quick(), {}, {});
  refused.Start();
  testsupport::PumpAWhile(50);
  EXPECT_FALSE(refused.up());
}

TEST(RedisUrl, ReadsHostPortUserAndDatabaseAndRefusesTheRest) {
  RedisAddress a;
  std::string error;
  ASSERT_TRUE(vossad::ParseRedisUrl("redis://10.0.0.5:6380/3", &a, &error));
  EXPECT_EQ(a.host, "10.0.0.5");
  EXPECT_EQ(a.port, 6380);
  EXPECT_EQ(a.db, 3u);
  ASSERT_TRUE(vossad::ParseRedisUrl("redis://lobby@127.0.0.1:6379", &a, &error));
  EXPECT_EQ(a.user, "lobby");
  EXPECT_EQ(a.db, 0u);
  for (const char* bad : {"127.0.0.1:6379", "redis://127.0.0.1", "redis://:6379", "redis://1.2.3.4:0", "redis://1.2.3.4:70000",
                          "redis://u:pw@h:1", "redis://h:1/x", "redis://h:1/99999", "redis://name.example:6379"}) {
    EXPECT_FALSE(vossad::ParseRedisUrl(bad, &a, &error)) << bad;
  }
}

}  // namespace

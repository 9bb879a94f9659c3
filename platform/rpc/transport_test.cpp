#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/paths/paths.h"
#include "platform/rpc/rpc.h"

namespace qv::rpc {
namespace {

using namespace std::chrono_literals;

constexpr char kEndpoint[] = "Test EP";

class TransportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/qvrpc-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    root_ = tmpl;
    qv::paths::SetRootForProcess(root_);
  }
  void TearDown() override {
    DestroyServer(server_);
    qv::paths::SetRootForProcess("");
    std::filesystem::remove_all(root_);
  }
  void Start(Handler handler, void* arg, unsigned maxCalls = kDefaultMaxCalls) {
    ASSERT_EQ(CreateServer(kEndpoint, maxCalls, &server_), kRpcOk);
    ASSERT_EQ(RegisterEndpoint(server_), kRpcOk);
    ASSERT_EQ(StartListening(server_, handler, arg), kRpcOk);
  }
  std::string root_;
  Server* server_ = nullptr;
};

bool Echo(CallContext* call, const std::vector<uint8_t>& request, std::vector<uint8_t>* reply, void*) {
  if (!request.empty() && request[0] == 'X') return false;  // "malformed"
  *reply = request;
  reply->push_back('!');
  return true;
}

TEST_F(TransportTest, EndpointNamesAreSanitisedAndBounded) {
  EXPECT_EQ(EndpointPath("KELAgent DT"), root_ + "/run/tavrik/KELAgent_DT.sock");
  EXPECT_EQ(EndpointPath("../a/b"), root_ + "/run/tavrik/.._a_b.sock");
  EXPECT_EQ(EndpointPath(""), "");
  EXPECT_EQ(EndpointPath(std::string(65, 'a')), "");
  Server* s = nullptr;
  EXPECT_EQ(CreateServer("", 10, &s), kRpcInvalidEndpoint);
  EXPECT_EQ(s, nullptr);
}

TEST_F(TransportTest, CallRoundTripAndSocketOpenToEveryone) {
  Start(Echo, nullptr);
  std::vector<uint8_t> reply;
  ASSERT_EQ(Call(kEndpoint, {'h', 'i'}, &reply, 5000), kRpcOk);
  EXPECT_EQ(reply, (std::vector<uint8_t>{'h', 'i', '!'}));
  ASSERT_EQ(Call(kEndpoint, {}, &reply, 5000), kRpcOk);
  EXPECT_EQ(reply, (std::vector<uint8_t>{'!'}));
  struct stat st{};
  ASSERT_EQ(::stat(EndpointPath(kEndpoint).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0666u);
  // A refused request closes without an answer.
  EXPECT_EQ(Call(kEndpoint, {'X'}, &reply, 5000), kRpcCallFailed);
}

TEST_F(TransportTest, NobodyListening) {
  std::vector<uint8_t> reply;
  EXPECT_EQ(Call(kEndpoint, {1}, &reply, 1000), kRpcServerUnavailable);
  Start(Echo, nullptr);
  EXPECT_EQ(Call(kEndpoint, {1}, &reply, 1000), kRpcOk);
  ASSERT_EQ(StopListening(server_), kRpcOk);
  EXPECT_FALSE(std::filesystem::exists(EndpointPath(kEndpoint)));
  EXPECT_EQ(Call(kEndpoint, {1}, &reply, 1000), kRpcServerUnavailable);
  EXPECT_EQ(StopListening(server_), kRpcNotListening);
  // The same server can register again after a stop.
  ASSERT_EQ(RegisterEndpoint(server_), kRpcOk);
  ASSERT_EQ(StartListening(server_, Echo, nullptr), kRpcOk);
  EXPECT_EQ(Call(kEndpoint, {1}, &reply, 1000), kRpcOk);
}

TEST_F(TransportTest, StaleFileIsReplacedLiveServerIsNot) {
  Start(Echo, nullptr);
  Server* second = nullptr;
  ASSERT_EQ(CreateServer(kEndpoint, 10, &second), kRpcOk);
  EXPECT_EQ(RegisterEndpoint(second), kRpcDuplicateEndpoint);
  // The first server's file is left alone by the refused one.
  DestroyServer(second);
  std::vector<uint8_t> reply;
  EXPECT_EQ(Call(kEndpoint, {1}, &reply, 1000), kRpcOk);

  // A socket file nobody listens on any more.
  DestroyServer(server_);
  server_ = nullptr;
  const std::string path = EndpointPath(kEndpoint);
  int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ::close(fd);
  Start(Echo, nullptr);
  EXPECT_EQ(Call(kEndpoint, {1}, &reply, 1000), kRpcOk);
}

TEST_F(TransportTest, OversizedFramesAreRefusedBothWays) {
  Start(Echo, nullptr);
  std::vector<uint8_t> reply;
  EXPECT_EQ(Call(kEndpoint, std::vector<uint8_t>(kMaxFrame + 1), &reply, 1000), kRpcProtocolError);
  // A raw client announcing a huge frame is dropped without a read of it.
  int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, EndpointPath(kEndpoint).c_str(), sizeof addr.sun_path - 1);
  ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  const uint8_t head[4] = {0xff, 0xff, 0xff, 0x7f};
  ASSERT_EQ(::send(fd, head, 4, MSG_NOSIGNAL), 4);
  char byte;
  EXPECT_EQ(::recv(fd, &byte, 1, 0), 0);  // closed, no answer
  ::close(fd);
}

// Holds every call until released and records how many ran at once.
struct Gate {
  std::mutex mutex;
  std::condition_variable cv;
  int running = 0;
  int peak = 0;
  int served = 0;
  bool open = false;
};

bool Held(CallContext*, const std::vector<uint8_t>& request, std::vector<uint8_t>* reply, void* arg) {
  auto* g = static_cast<Gate*>(arg);
  std::unique_lock<std::mutex> lock(g->mutex);
  g->peak = std::max(g->peak, ++g->running);
  g->cv.notify_all();
  g->cv.wait_for(lock, 20s, [&] { return g->open; });
  --g->running;
  ++g->served;
  *reply = request;
  return true;
}

TEST_F(TransportTest, AtMostTenCallsAtOnceTheRestWait) {
  Gate gate;
  Start(Held, &gate);
  std::vector<std::thread> clients;
  std::atomic<int> ok{0};
  for (int i = 0; i < 13; ++i) {
    clients.emplace_back([&] {
      std::vector<uint8_t> reply;
      if (Call(kEndpoint, {1}, &reply, 20000) == kRpcOk) ++ok;
    });
  }
  {
    std::unique_lock<std::mutex> lock(gate.mutex);
    ASSERT_TRUE(gate.cv.wait_for(lock, 20s, [&] { return gate.running == 10; }));
  }
  std::this_thread::sleep_for(200ms);  // give an eleventh call the chance to start wrongly
  {
    std::lock_guard<std::mutex> lock(gate.mutex);
    EXPECT_EQ(gate.running, 10);
    gate.open = true;
    gate.cv.notify_all();
  }
  for (auto& t : clients) t.join();
  EXPECT_EQ(ok.load(), 13);
  EXPECT_EQ(gate.peak, 10);
}

TEST_F(TransportTest, SilentClientDoesNotHoldTheOnlySlot) {
  Start(Echo, nullptr, 1);
  SetRequestTimeoutForTest(server_, 200);
  int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, EndpointPath(kEndpoint).c_str(), sizeof addr.sun_path - 1);
  ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  std::vector<uint8_t> reply;
  EXPECT_EQ(Call(kEndpoint, {5}, &reply, 10000), kRpcOk);
  ::close(fd);
}

TEST_F(TransportTest, ClientTimesOutOnASlowServer) {
  Gate gate;
  Start(Held, &gate);
  std::vector<uint8_t> reply;
  EXPECT_EQ(Call(kEndpoint, {1}, &reply, 300), kRpcCallTimeout);
  {
    std::lock_guard<std::mutex> lock(gate.mutex);
    gate.open = true;
    gate.cv.notify_all();
  }
  // The held call still uses the gate: stop the server while it exists.
  DestroyServer(server_);
  server_ = nullptr;
}

TEST_F(TransportTest, CallerIdentityAndProtocolSequence) {
  int pair[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
  CallContext* local = MakeCallContext(pair[0]);
  EXPECT_EQ(ProtocolSequence(local), "ncalrpc");
  PeerIdentity peer;
  ASSERT_TRUE(PeerCredentials(local, &peer));
  EXPECT_EQ(peer.uid, ::getuid());
  EXPECT_EQ(peer.gid, ::getgid());
  EXPECT_EQ(peer.pid, static_cast<uint32_t>(::getpid()));
  EXPECT_FALSE(PeerInGroup(local, "no-such-group-qv"));
  EXPECT_FALSE(PeerInGroup(local, ""));
  FreeCallContext(local);
  ::close(pair[0]);
  ::close(pair[1]);

  // A TCP connection on loopback is another protocol sequence with no peer credentials.
  int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ASSERT_EQ(::listen(listener, 1), 0);
  ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len), 0);
  int client = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_EQ(::connect(client, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  int accepted = ::accept(listener, nullptr, nullptr);
  ASSERT_GE(accepted, 0);
  CallContext* tcp = MakeCallContext(accepted);
  EXPECT_EQ(ProtocolSequence(tcp), "ncacn_ip_tcp");
  EXPECT_FALSE(PeerCredentials(tcp, &peer));
  FreeCallContext(tcp);
  ::close(accepted);
  ::close(client);
  ::close(listener);
}

}  // namespace
}  // namespace qv::rpc

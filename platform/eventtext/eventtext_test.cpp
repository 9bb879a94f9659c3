#include "platform/eventtext/eventtext.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/paths/paths.h"
#include "platform/registry/registry.h"

namespace {

using nlohmann::json;

const char* const kOverrides[] = {"TAVRIK_TRACE_LEVEL", "TAVRIK_TRACE_DEST",
                                  "TAVRIK_EVENT_LOG_CONTROL"};

class EventTextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/eventtext-test-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    root_ = tmpl;
    qv::paths::SetRootForProcess(root_);
    for (const char* name : kOverrides) unsetenv(name);
    setenv("TAVRIK_EVENT_SYSLOG", "0", 1);
    QVEventTextReload();
  }

  void TearDown() override {
    for (const char* name : kOverrides) unsetenv(name);
    unsetenv("TAVRIK_EVENT_SYSLOG");
    std::filesystem::remove_all(root_);
    qv::paths::SetRootForProcess("");
    QVEventTextReload();
  }

  void Configure(uint32_t level, uint32_t dest) {
    setenv("TAVRIK_TRACE_LEVEL", std::to_string(level).c_str(), 1);
    setenv("TAVRIK_TRACE_DEST", std::to_string(dest).c_str(), 1);
    QVEventTextReload();
  }

  void SetEventLogControl(uint32_t control) {
    setenv("TAVRIK_EVENT_LOG_CONTROL", std::to_string(control).c_str(), 1);
    QVEventTextReload();
  }

  static std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

  static std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  std::string TraceFile() const { return Slurp(qv::paths::LogDir() + "/trace.log"); }
  std::string EventFile() const { return Slurp(qv::paths::LogDir() + "/events.jsonl"); }

  // Every line of the event file as JSON; a line that does not parse fails.
  std::vector<json> Events() const {
    std::vector<json> events;
    std::string text = EventFile();
    if (!text.empty()) {
      EXPECT_EQ(text.back(), '\n');
    }
    for (const std::string& line : Lines(text)) {
      json record = json::parse(line, nullptr, false);
      EXPECT_FALSE(record.is_discarded()) << line;
      events.push_back(record);
    }
    return events;
  }

  std::string root_;
};

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST_F(EventTextTest, TraceLevelsAndDestinations) {
  struct Case {
    uint32_t level_mask, dest, call_level;
    bool in_file, on_stderr;
  } cases[] = {
      {8, 4, 8, true, false},          // log file only
      {8, 4, 2, false, false},         // level not enabled
      {2 | 4, 2, 4, false, true},      // console
      {8, 8, 8, false, true},          // debugger
      {8, 2 | 8, 8, false, true},      // console and debugger: once
      {8, 2 | 4, 8, true, true},       // both
      {0xFF, 0, 8, false, false},      // no destination
      {0, 4, 8, false, false},         // tracing off
      {16, 4, 16, true, false},        // message-object layers
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(n);
    std::filesystem::remove(qv::paths::LogDir() + "/trace.log");
    Configure(c.level_mask, c.dest);
    std::string marker = "marker-" + std::to_string(n++);
    testing::internal::CaptureStderr();
    QVTraceMessage(c.call_level, 6, "AMmain", 42, "Entering %s", marker.c_str());
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(Count(TraceFile(), marker), c.in_file ? 1u : 0u);
    EXPECT_EQ(Count(err, marker), c.on_stderr ? 1u : 0u);
    EXPECT_EQ(QVTraceEnabled(c.call_level) != 0, c.in_file || c.on_stderr);
  }
}

TEST_F(EventTextTest, TraceRecordIsOneLineWithItsOrigin) {
  Configure(8, 4);
  QVTraceMessage(8, 9, "SMmain", 123, "first\nsecond\r\n");
  std::vector<std::string> lines = Lines(TraceFile());
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("SMmain:123 [8/9] first second"), std::string::npos) << lines[0];
  EXPECT_EQ(lines[0].back(), 'd');
}

TEST_F(EventTextTest, SettingsComeFromTheRegistryAndTheEnvironmentWins) {
  qv::reg::Key key;
  ASSERT_EQ(key.Create(qv::reg::HKEY_LOCAL_MACHINE, "SOFTWARE\\Tavrik\\KELCLIENT",
                       qv::reg::KEY_ALL_ACCESS),
            qv::reg::ERROR_SUCCESS);
  auto set = [&](const char* name, uint32_t v) {
    ASSERT_EQ(qv::reg::SetValue(key.get(), name, qv::reg::REG_DWORD, &v, sizeof v),
              qv::reg::ERROR_SUCCESS);
  };
  set("TraceLevel", 8);
  set("Tracedest", 4);  // as the control panel writes it
  set("EventLogControl", 3);
  QVEventTextReload();

  QVTraceMessage(8, 6, "AMmain", 1, "from-registry");
  QVLogEventControl(2, 9, QVE_AM_NEW_PIN_ACCEPTED, QV_SID_NONE, "bob", 0);
  QVLogEventControl(1, 9, QVE_SVC_ENDED, QV_SID_NONE, nullptr, 0);
  EXPECT_EQ(Count(TraceFile(), "from-registry"), 1u);
  std::vector<json> events = Events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0]["code"], "0x400028A1");

  setenv("TAVRIK_TRACE_LEVEL", "0", 1);
  QVEventTextReload();
  QVTraceMessage(8, 6, "AMmain", 2, "overridden");
  EXPECT_EQ(Count(TraceFile(), "overridden"), 0u);
}

TEST_F(EventTextTest, ControlledEventsFollowEventLogControl) {
  struct Case {
    uint32_t control, event_class;
    bool written;
  } cases[] = {
      {0, 4, true},  {1, 3, true},  {1, 4, false}, {2, 2, true},  {2, 3, false},
      {3, 1, true},  {3, 2, false}, {7, 1, true},  {7, 2, false},
  };
  const char* names[] = {"carol", "CORP", "ws7"};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "control " << c.control << " class " << c.event_class);
    std::filesystem::remove(qv::paths::LogDir() + "/events.jsonl");
    SetEventLogControl(c.control);
    QVLogEventControl(c.event_class, 9, QVE_AM_NEXT_CODE_ACCEPTED, QV_SID_NONE, "carol", 0);
    QVLogEventControlEx(c.event_class, 9, QVE_AM_NO_SESSION_CERT, QV_SID_NONE, 3, names);
    // The immediate calls ignore the setting.
    QVILogEvent(c.event_class, 9, QVS_AM_NEW_PIN_REJECTED, QV_SID_NONE, "carol", 0);
    QVILogEventEx(c.event_class, 9, QVS_AM_SESSION_CERT_REJECTED, QV_SID_NONE, 3, names);
    QVLogEvent(9, QVS_AM_ACCESS_DENIED, QV_SID_NONE, "carol", 0);
    std::vector<json> events = Events();
    ASSERT_EQ(events.size(), c.written ? 5u : 3u);
    if (c.written) {
      EXPECT_EQ(events[0]["code"], "0x4000271B");
      EXPECT_EQ(events[1]["code"], "0x40002723");
    }
    EXPECT_EQ(events[events.size() - 3]["code"], "0xC0002719");
  }
}

TEST_F(EventTextTest, EventRecordFields) {
  const char* inserts[] = {"alice", "CORP", "ws1", "", ""};
  QVLogEventControlEx(1, 9, QVE_AM_AUTH_SUCCEEDED, "alice", 5, inserts);
  QVLogEvent(9, QVS_AM_NO_HOST_NAME, QV_SID_NONE, "10.0.0.1", 11001);
  QVILogEvent(1, 9, QVE_AM_UNEXPECTED_CHECK, QV_SID_UNSET, "dave", 24);
  QVLogEvent(9, QVE_AM_TRANSACTION_FAILED, QV_SID_NONE, "dave", QVS_AM_PROTOCOL_ERROR);
  QVILogEvent(1, 3, 0x40009999, QV_SID_NONE, "something", 0);

  std::vector<json> e = Events();
  ASSERT_EQ(e.size(), 5u);
  EXPECT_EQ(e[0]["code"], "0x40002725");
  EXPECT_EQ(e[0]["severity"], "information");
  EXPECT_EQ(e[0]["class"], 1);
  EXPECT_EQ(e[0]["category"], 9);
  EXPECT_EQ(e[0]["user"], "alice");
  EXPECT_EQ(e[0]["inserts"], json({"alice", "CORP", "ws1", "", ""}));
  EXPECT_EQ(e[0]["number"], 0);
  EXPECT_EQ(e[0]["text"], "User alice of domain CORP at workstation ws1 was authenticated");
  EXPECT_EQ(e[0]["pid"], getpid());
  EXPECT_EQ(e[0]["program"], program_invocation_short_name);
  std::string time = e[0]["time"];
  ASSERT_EQ(time.size(), 24u) << time;
  EXPECT_EQ(time[4], '-');
  EXPECT_EQ(time[10], 'T');
  EXPECT_EQ(time[19], '.');
  EXPECT_EQ(time[23], 'Z');

  EXPECT_EQ(e[1]["code"], "0xC0002721");
  EXPECT_EQ(e[1]["severity"], "error");
  EXPECT_EQ(e[1]["class"], 0);
  EXPECT_TRUE(e[1]["user"].is_null());
  EXPECT_EQ(e[1]["inserts"], json({"10.0.0.1"}));
  EXPECT_EQ(e[1]["number"], 11001);
  EXPECT_EQ(e[1]["text"], "The workstation address has no host name (address 10.0.0.1, error 11001)");

  EXPECT_EQ(e[2]["severity"], "warning");
  EXPECT_TRUE(e[2]["user"].is_null());
  EXPECT_EQ(e[2]["text"], "Unexpected result 24 from the passcode check for user dave");

  // A status as the number insert reads as a status.
  EXPECT_EQ(e[3]["text"],
            "A new PIN or next tokencode transaction failed for user dave (status 0xC0002712)");

  EXPECT_EQ(e[4]["text"], "Event 0x40009999: something");
}

TEST_F(EventTextTest, HostileInsertsGiveOneValidRecord) {
  std::string big(5000, 'x');
  const char bad_utf8[] = "caf\xC3\xA9 \xFF\xC3 end";
  const char* inserts[] = {"quote\" back\\slash", "line\nbreak\r\x01", bad_utf8, big.c_str(),
                           nullptr};
  QVILogEventEx(1, 5, QVE_WEB_GROUP_NOT_FOUND, "user\"\n", 5, inserts);
  QVILogEventEx(1, 5, QVE_WEB_NO_COOKIE, QV_SID_NONE, 3, nullptr);
  std::vector<const char*> many(1000, "m");
  QVILogEventEx(1, 5, QVE_WEB_NO_COOKIE, QV_SID_NONE, uint32_t(many.size()), many.data());

  std::vector<json> e = Events();
  ASSERT_EQ(e.size(), 3u);
  EXPECT_EQ(e[0]["user"], "user\"\n");
  EXPECT_EQ(e[0]["inserts"][0], "quote\" back\\slash");
  EXPECT_EQ(e[0]["inserts"][1], "line\nbreak\r\x01");
  EXPECT_EQ(e[0]["inserts"][2], "caf\xC3\xA9 \xEF\xBF\xBD\xEF\xBF\xBD end");
  EXPECT_EQ(e[0]["inserts"][3].get<std::string>().size(), 1024u);
  EXPECT_EQ(e[0]["inserts"][4], "");
  EXPECT_EQ(e[0]["text"], "The group quote\" back\\slash cannot be found");
  EXPECT_EQ(e[1]["inserts"].size(), 0u);
  EXPECT_EQ(e[2]["inserts"].size(), 16u);
}

TEST_F(EventTextTest, ConcurrentWritersLeaveWholeLines) {
  Configure(8, 4);
  constexpr int kThreads = 6, kProcesses = 3, kEach = 150;
  const std::string payload(900, 'p');
  auto work = [&](int who) {
    for (int i = 0; i < kEach; ++i) {
      std::string tag = std::to_string(who) + "-" + std::to_string(i) + "-" + payload;
      QVILogEvent(1, 9, QVE_AM_FAILED_ATTEMPT, QV_SID_NONE, tag.c_str(), uint32_t(i));
      QVTraceMessage(8, 6, "AMmain", i, "trace %s", tag.c_str());
    }
  };
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      work(100 + p);
      _exit(0);
    }
    children.push_back(pid);
  }
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) threads.emplace_back(work, t);
  for (std::thread& t : threads) t.join();
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }

  constexpr size_t kTotal = size_t(kThreads + kProcesses) * kEach;
  std::vector<json> events = Events();
  ASSERT_EQ(events.size(), kTotal);
  for (const json& e : events) {
    std::string insert = e["inserts"][0];
    ASSERT_EQ(insert.size() - insert.find(payload), payload.size()) << insert.substr(0, 40);
  }
  std::vector<std::string> traces = Lines(TraceFile());
  ASSERT_EQ(traces.size(), kTotal);
  for (const std::string& line : traces) {
    ASSERT_EQ(line.size() - line.find(payload), payload.size()) << line.substr(0, 80);
  }
}

TEST(FormatError, PutsTheStatusTextInPlaceOfPercentS) {
  struct Case {
    const char* format;
    QVSTATUS code;
    const char* expected;
  } cases[] = {
      {"Authentication Failed.\n%s", QVS_AM_ACCESS_DENIED, "Authentication Failed.\nAccess denied"},
      {"ACCESS DENIED: Connection failed.\n%s", QVS_SM_CONNECT_FAILED,
       "ACCESS DENIED: Connection failed.\nThe connection was refused or failed"},
      {"%s %s", QVS_AM_ACCESS_DENIED, "Access denied %s"},
      // Texts written for events lose their insert markers.
      {"failed.\n%s", QVS_AM_AUTH_FAILED, "failed.\nAuthentication failed or could not run"},
      {"%s", QVS_AM_NEW_PIN_REJECTED, "New PIN rejected for user "},
      {"no insert", QVS_AM_ACCESS_DENIED, "no insert"},
      {nullptr, QVS_AM_ACCESS_DENIED, "Access denied"},
      {"[%s]", 0xC0001234, "[Unknown status 0xC0001234]"},
      {"%d %s", QVS_AM_ACCESS_DENIED, "%d Access denied"},
  };
  for (const Case& c : cases) {
    char buffer[256];
    EXPECT_STREQ(QVFormatError(buffer, sizeof buffer, c.format, c.code), c.expected);
  }

  char small[8];
  QVFormatError(small, sizeof small, "x: %s", QVS_AM_ACCESS_DENIED);
  EXPECT_STREQ(small, "x: Acce");
  char untouched[4] = "abc";
  QVFormatError(untouched, 0, "%s", QVS_AM_ACCESS_DENIED);
  EXPECT_STREQ(untouched, "abc");
}

TEST(Mask, NeverShowsTheSecret) {
  EXPECT_STREQ(QVMask("1234567890"), "****");
  EXPECT_STREQ(QVMask("1"), "****");
  EXPECT_STREQ(QVMask(""), "<empty>");
  EXPECT_STREQ(QVMask(nullptr), "<null>");
}

}  // namespace

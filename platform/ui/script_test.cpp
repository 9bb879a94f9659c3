#include "platform/ui/script.h"

#include <gtest/gtest.h>

#include "platform/ui/ui.h"

namespace qv::ui::internal {
namespace {

TEST(ScriptLine, ParsesAnswersAndRejectsMalformedLines) {
  struct Case {
    const char* line;
    ScriptLine kind;
    ScriptTarget target;
    int templateId;
    const char* boxText;
    int answer;
    size_t values;
  } cases[] = {
      {"dialog 101 ok 1003=123456", ScriptLine::kAnswer, ScriptTarget::kDialog, 101, "", kIdOk, 1},
      {"dialog * cancel", ScriptLine::kAnswer, ScriptTarget::kDialog, 0, "", kIdCancel, 0},
      {"box \"Are you sure\" yes", ScriptLine::kAnswer, ScriptTarget::kBox, 0, "Are you sure",
       kIdYes, 0},
      {"box * ok", ScriptLine::kAnswer, ScriptTarget::kBox, 0, "", kIdOk, 0},
      {"* * timeout", ScriptLine::kAnswer, ScriptTarget::kAny, 0, "", kIdTimedOut, 0},
      {"dialog 102 wait", ScriptLine::kAnswer, ScriptTarget::kDialog, 102, "", kAnswerWait, 0},
      {"dialog 101 ok 1002=\"a b\\\"c\" 1003= 1001=2", ScriptLine::kAnswer, ScriptTarget::kDialog,
       101, "", kIdOk, 3},
      {"   # comment", ScriptLine::kSkip, ScriptTarget::kAny, 0, "", 0, 0},
      {"", ScriptLine::kSkip, ScriptTarget::kAny, 0, "", 0, 0},
      {"dialog 101", ScriptLine::kError, ScriptTarget::kAny, 0, "", 0, 0},
      {"dialog 101 maybe", ScriptLine::kError, ScriptTarget::kAny, 0, "", 0, 0},
      {"dialog abc ok", ScriptLine::kError, ScriptTarget::kAny, 0, "", 0, 0},
      {"dialog -5 ok", ScriptLine::kError, ScriptTarget::kAny, 0, "", 0, 0},
      {"box text ok", ScriptLine::kError, ScriptTarget::kAny, 0, "", 0, 0},
      {"box \"open ok", ScriptLine::kError, ScriptTarget::kAny, 0, "", 0, 0},
      {"dialog 101 ok x=1", ScriptLine::kError, ScriptTarget::kAny, 0, "", 0, 0},
      {"dialog 101 ok 1003", ScriptLine::kError, ScriptTarget::kAny, 0, "", 0, 0},
      {"dialog 101 ok 1003=\"\\q\"", ScriptLine::kError, ScriptTarget::kAny, 0, "", 0, 0},
      {"window 101 ok", ScriptLine::kError, ScriptTarget::kAny, 0, "", 0, 0},
  };
  for (const Case& c : cases) {
    ScriptAnswer a;
    ASSERT_EQ(ParseScriptLine(c.line, a), c.kind) << c.line;
    if (c.kind != ScriptLine::kAnswer) continue;
    EXPECT_EQ(a.target, c.target) << c.line;
    EXPECT_EQ(a.templateId, c.templateId) << c.line;
    EXPECT_EQ(a.boxText, c.boxText) << c.line;
    EXPECT_EQ(a.answer, c.answer) << c.line;
    EXPECT_EQ(a.values.size(), c.values) << c.line;
  }
  ScriptAnswer quoted;
  ASSERT_EQ(ParseScriptLine("dialog 101 ok 1002=\"a b\\\"c\" 1003= 1001=2", quoted),
            ScriptLine::kAnswer);
  EXPECT_EQ(quoted.values[0], std::make_pair(1002, std::string("a b\"c")));
  EXPECT_EQ(quoted.values[1], std::make_pair(1003, std::string()));
  EXPECT_EQ(quoted.values[2], std::make_pair(1001, std::string("2")));
}

}  // namespace
}  // namespace qv::ui::internal

// Text from files and the device, made safe for a terminal and for JSON,
// and file errors in the system's words.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "profile/TerminalText.h"
#include "support/TempDir.h"

using namespace vlx;

namespace {

TEST(TerminalText, ControlCharactersAreShownEscaped) {
  struct Case {
    std::string In, Out;
  };
  const Case cases[] = {
      {"Kick drum", "Kick drum"},
      {"\x1b]0;title\x07", "\\x1B]0;title\\x07"},
      {"a\nb\rc\td", "a\\x0Ab\\x0Dc\\x09d"},
      {std::string("nul\0x", 5), "nul\\x00x"},
      {"del\x7f", "del\\x7F"},
      {"back\\slash", "back\\\\slash"},
      {"\xc2\x9b" "2J", "\\u009B2J"},           // C1 CSI in UTF-8
      {"\xc2\xa0\xc3\xa9\xe2\x82\xac", "\xc2\xa0\xc3\xa9\xe2\x82\xac"},  // NBSP, e acute, euro sign stay
      {"\x9b" "2J", "\\x9B2J"},                  // a stray byte, no UTF-8
      {"\xc0\x9b", "\\xC0\\x9B"},                // an overlong form
      {"\xed\xa0\x80", "\\xED\\xA0\\x80"},       // a surrogate
      {"cut \xe2\x82", "cut \\xE2\\x82"},        // a sequence cut short
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.In);
    EXPECT_EQ(TerminalSafe(c.In), c.Out);
  }
  EXPECT_EQ(TerminalSafe("one\ntwo\x1b\n", true), "one\ntwo\\x1B\n");
}

TEST(TerminalText, JsonCharactersAreValidJsonWithControlsEscaped) {
  const std::string inputs[] = {"plain", "\x1b[2J\"q\"\\", "\x7f\xc2\x85\n\t", "\xff\xfe stray", "\xe2\x82\xac"};
  const std::string expected[] = {"plain", "\\u001b[2J\\\"q\\\"\\\\", "\\u007f\\u0085\\n\\t", "\\u00ff\\u00fe stray",
                                  "\xe2\x82\xac"};
  for (std::size_t i = 0; i < std::size(inputs); ++i) {
    SCOPED_TRACE(i);
    std::string out;
    AppendJsonChars(out, inputs[i]);
    EXPECT_EQ(out, expected[i]);
    EXPECT_TRUE(nlohmann::json::accept("\"" + out + "\""));
    for (unsigned char ch : out) EXPECT_TRUE(ch >= 0x20 && ch != 0x7F);
  }
}

TEST(TerminalText, JsonTextKeepsItsMeaningWithDelAndC1Escaped) {
  const nlohmann::json doc = {{"name", "a\x7f" "b\xc2\x9b" "c\xc2\xa0" "d\xe2\x82\xac"}, {"n", 1}};
  const std::string text = JsonWithControlsEscaped(doc.dump());
  EXPECT_EQ(text, R"({"n":1,"name":"a\u007fb\u009bc)" "\xc2\xa0" "d\xe2\x82\xac\"}");
  EXPECT_EQ(nlohmann::json::parse(text), doc);
}

TEST(TerminalText, FileErrorsNameTheReasonAndAMissingFolder) {
  TempDir dir;
  EXPECT_EQ(FileErrorText(dir.File("a.cus"), ENOENT), dir.File("a.cus") + ": No such file or directory");
  EXPECT_EQ(FileErrorText(dir.File("x/y/a.cus"), ENOENT),
            dir.File("x/y/a.cus") + ": No such file or directory (there is no folder " + dir.File("x/y") + ")");
  EXPECT_EQ(FileErrorText("a.cus", EACCES), "a.cus: Permission denied");
}

}  // namespace

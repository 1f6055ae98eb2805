#include <gtest/gtest.h>

#include "editor/ValueRule.h"
#include "profile/ProfileFile.h"

using namespace vlx;

TEST(ValueRule, TextsGiveMidiNumbers) {
  const std::pair<const char*, int> cases[] = {{"", 0},     {"0", 0},   {"7", 7},   {"127", 127}, {"128", 127},
                                               {"999", 127}, {"007", 7}, {"-5", 0}, {"+12", 12}};
  for (const auto& [text, value] : cases) EXPECT_EQ(ValueTextRule(text), value) << '"' << text << '"';
}

TEST(ValueRule, ATextThatIsNoNumberIsRefusedWithItsText) {
  for (const char* text : {"abc", "1a", " 1", "-", "1.5", "0x1"}) {
    try {
      ValueTextRule(text);
      ADD_FAILURE() << text << " was taken";
    } catch (const EVlxError& e) {
      EXPECT_EQ(std::string(e.what()), std::string("'") + text + "' is not a valid integer value");
    }
  }
}

TEST(ValueRule, OnlyDigitsAndTheEditingControlCharactersPass) {
  for (char16_t c : {u'0', u'5', u'9', char16_t(3), char16_t(8), char16_t(13), char16_t(22)})
    EXPECT_TRUE(ValueKeyPasses(c)) << int(c);
  for (char16_t c : {u'a', u'-', u'+', u' ', u'.', char16_t(1), char16_t(24), char16_t(26), u'\u00E9'})
    EXPECT_FALSE(ValueKeyPasses(c)) << int(c);
}

#include <cerrno>

#include <gtest/gtest.h>

#include "profile/FileOps.h"
#include "profile/ProfileFile.h"
#include "profile/Settings.h"
#include "support/TempDir.h"

using namespace vlx;

TEST(Settings, MissingFileSectionOrKeyReadsAsTheDefault) {
  TempDir dir;
  EXPECT_EQ(ReadIniString(dir.File("System.ini"), "System", "FilePath", "none"), "none");
  WriteBytes(dir.File("a.ini"), {'[', 'O', 't', 'h', 'e', 'r', ']', '\n', 'F', 'i', 'l', 'e', 'P', 'a', 't', 'h', '=', 'x'});
  EXPECT_EQ(ReadIniString(dir.File("a.ini"), "System", "FilePath"), "");
}

TEST(Settings, WritingCreatesTheFileAndReadsBack) {
  TempDir dir;
  const std::string ini = dir.File("System.ini");
  WriteIniString(ini, "System", "FilePath", "/home/u/customer.cus");
  EXPECT_EQ(ReadText(ini), "[System]\nFilePath=/home/u/customer.cus\n");
  EXPECT_EQ(ReadIniString(ini, "System", "FilePath"), "/home/u/customer.cus");
}

TEST(Settings, WritingKeepsOtherSectionsAndKeys) {
  TempDir dir;
  const std::string ini = dir.File("System.ini");
  const std::string before = "; kept\r\n[Window]\r\nLeft=10\r\n\r\n[system]\r\nfilepath = old.cus\r\nOther=1\r\n";
  WriteBytes(ini, std::vector<uint8_t>(before.begin(), before.end()));
  EXPECT_EQ(ReadIniString(ini, "System", "FilePath"), "old.cus") << "names compare without case";
  WriteIniString(ini, "System", "FilePath", "new.cus");
  EXPECT_EQ(ReadText(ini), "; kept\r\n[Window]\r\nLeft=10\r\n\r\n[system]\r\nFilePath=new.cus\r\nOther=1\r\n");

  WriteIniString(ini, "Window", "Top", "5");
  EXPECT_EQ(ReadIniString(ini, "Window", "Top"), "5");
  EXPECT_EQ(ReadIniString(ini, "Window", "Left"), "10");
  EXPECT_EQ(ReadIniString(ini, "System", "FilePath"), "new.cus");
}

TEST(Settings, AFailedWriteSaysWhichFile) {
  TempDir dir;
  const std::string ini = dir.File("System.ini");
  WriteBytes(ini, {'[', 'S', 'y', 's', 't', 'e', 'm', ']', '\n'});
  FileOps ops = FileOps::Posix();
  ops.MkStemp = [](char*) {
    errno = EROFS;
    return -1;
  };
  ScopedFileOps guard(ops);
  try {
    WriteIniString(ini, "System", "FilePath", "x");
    FAIL() << "the write was reported as done";
  } catch (const EVlxError& e) {
    EXPECT_EQ(std::string(e.what()), "Unable to write to " + ini);
  }
  EXPECT_EQ(ReadText(ini), "[System]\n");
}

TEST(Settings, QuotedValuesLoseTheirQuotes) {
  TempDir dir;
  const std::string text = "[System]\nFilePath = \"/a b/c.cus\"  \n";
  WriteBytes(dir.File("s.ini"), std::vector<uint8_t>(text.begin(), text.end()));
  EXPECT_EQ(ReadIniString(dir.File("s.ini"), "System", "FilePath"), "/a b/c.cus");
}

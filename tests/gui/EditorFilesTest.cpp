// The files the window writes, as the file readers of vellox-cli read them:
// a number the window's list has no item for shows as no selection, is
// saved as -1, read back as "no selection" and sent as the window sends it.
#include <gtest/gtest.h>

#include "profile/ProfileFormats.h"
#include "support/FormFixture.h"
#include "sync/SysEx.h"

using namespace vlx;

TEST(EditorFiles, AListWithoutASelectionIsSavedAsMinusOneAndReadBackAsNoSelection) {
  FormFixture f;
  TParaTable t;
  ApplyFactoryValues(t);
  t.GlobalBlock()[ARPMode] = 5;        // the window's list has four items
  t[SliderControl].DataType = 5;       // the slider's list has five
  WriteProfileFile(f.ProfileFile(), t);  // the profile the window loads at start-up
  TForm1& w = f.Make();
  ASSERT_EQ(w.ProfilePath, f.ProfileFile());
  EXPECT_EQ(w.CmbARPMode->ItemIndex(), -1);
  EXPECT_EQ(w.CmbDataType->ItemIndex(), -1);
  Click(w.BtnSave);
  ASSERT_TRUE(f.Dialogs->Errors.empty());

  const TLoadedProfile saved = ReadProfile(f.ProfileFile());
  EXPECT_EQ(saved.Table.GlobalBlock()[ARPMode], NoSelection);
  EXPECT_EQ(saved.Table[SliderControl].DataType, NoSelection);
  const std::string shown = ProfileTableText(saved.Table, false);
  EXPECT_NE(shown.find("ARP MODE     no selection\n"), std::string::npos) << shown;
  EXPECT_NE(shown.find("slider    Slider                   7       0  no selection\n"), std::string::npos) << shown;
  EXPECT_FALSE(ListPositionProblem(saved.Table)) << "a list without a selection goes on as it is";

  // The dump of the file is what the window's SYNC TO FW sends for it.
  TByteStream windowSends;
  HexTextToBytes(BuildDumpText(w.ParaTable), windowSends);
  std::vector<uint8_t> dump = DumpMessageOf(DumpBodyOf(saved.Table));
  dump.insert(dump.end(), {0, 0, 0});
  EXPECT_EQ(dump, windowSends.Bytes);
  EXPECT_EQ(dump[4 + 31], 0);
}

// The table of fields: the dump's body bytes, the lists, and the rules for a
// number outside a list as the window, the dump and vellox-cli apply them.
#include <gtest/gtest.h>

#include "profile/Fields.h"
#include "profile/ProfileFormats.h"
#include "sync/SysEx.h"

using namespace vlx;

namespace {

using K = FieldKind;

// The controller's dump body, byte by byte: which record's field, or which
// global setting, each body byte carries.
struct BodyByte {
  int Byte;
  int Control;
  K Kind;
  int Global;
};

const BodyByte kBodyBytes[] = {
    {0, 1, K::Value, 0},   {1, 2, K::Value, 0},   {2, 3, K::Value, 0},   {3, 4, K::Value, 0},
    {4, 5, K::Value, 0},   {5, 6, K::Value, 0},   {6, 7, K::Value, 0},   {7, 8, K::Value, 0},
    {8, 9, K::Value, 0},   {9, 10, K::Value, 0},  {10, 11, K::Value, 0}, {11, 12, K::Value, 0},
    {12, 13, K::Value, 0}, {13, 14, K::Value, 0}, {14, 15, K::Value, 0}, {15, 16, K::Value, 0},
    {16, 17, K::Value, 0}, {17, 17, K::Channel, 0}, {18, 17, K::DataType, 0},
    {19, 18, K::Value, 0}, {20, 18, K::Channel, 0}, {21, 18, K::DataType, 0},
    {22, 19, K::Value, 0}, {23, 19, K::Channel, 0}, {24, 19, K::DataType, 0},
    {25, 20, K::Value, 0}, {26, 20, K::Channel, 0}, {27, 20, K::DataType, 0},
    {28, 21, K::Value, 0}, {29, 21, K::Channel, 0}, {30, 21, K::DataType, 0},
    {31, 1, K::Global, ARPMode},  {32, 1, K::Global, ARPTime},  {33, 1, K::Global, ARPOctave},
    {34, 1, K::Global, Scale},    {35, 1, K::Global, Velocity}, {36, 1, K::Global, PadMode},
    {37, 1, K::Global, Beat},     {38, 1, K::Global, KeyChannel},
};

int HexAt(const std::string& text, std::size_t byte) { return std::stoi(text.substr(3 * byte, 2), nullptr, 16); }

}  // namespace

TEST(Fields, TheDumpLayoutIsTheControllersByteTable) {
  static_assert(std::size(kBodyBytes) == DumpBodySize);
  for (const BodyByte& c : kBodyBytes) {
    SCOPED_TRACE("body byte " + std::to_string(c.Byte));
    const TField want{c.Control, c.Kind, c.Global};
    EXPECT_EQ(DumpLayout()[static_cast<std::size_t>(c.Byte)], want);
    EXPECT_TRUE(IsStored(want));

    // Every user of the layout puts the field at that byte: the window's dump
    // text, the dump body of the files and the window's reading of a dump.
    TParaTable t;
    SetFieldValue(t, want, 99);
    EXPECT_EQ(HexAt(BuildDumpText(t), 4 + static_cast<std::size_t>(c.Byte)), 99);
    EXPECT_EQ(DumpBodyOf(t)[static_cast<std::size_t>(c.Byte)], 99);
    TDumpBody body{};
    body[static_cast<std::size_t>(c.Byte)] = 77;
    EXPECT_EQ(FieldValue(TableOfDumpBody(body), want), 77);
    TRxTokens tokens;
    CutTokens(BuildDumpText(TableOfDumpBody(body)), tokens);
    TParaTable applied;
    ApplyDump(tokens, applied);
    EXPECT_EQ(FieldValue(applied, want), 77);
  }
  // What the controller does not store.
  for (const TField f : {TField{1, K::Channel}, TField{16, K::DataType}, TField{17, K::ControlMode},
                         TField{18, K::Disabled}})
    EXPECT_FALSE(IsStored(f));
}

TEST(Fields, TheListsAreTheWindowsItems) {
  struct Case {
    TField Field;
    std::vector<std::string_view> Items;
  } cases[] = {
      {{17, K::DataType}, {"NOTE", "PC", "PITCH BEND", "AFTER TOUCH", "CC"}},
      {{3, K::DataType}, {"NOTE", "PC", "PITCH BEND", "AFTER TOUCH", "CC"}},
      {{18, K::DataType}, {"NOTE", "PC", "PITCH BEND", "AFTER TOUCH", "CC(Relative)", "CC(Absolute)"}},
      {{5, K::ControlMode}, {"Toggle", "Momentary"}},
      {GlobalField(ARPMode), {"UP", "DOWN", "RANDOM", "CHRN"}},
      {GlobalField(Beat), {"1 beat", "2 beat", "3 beat", "4 beat", "5 beat", "6 beat"}},
      {{19, K::Value}, {}},
      {{19, K::Disabled}, {}},
  };
  for (const Case& c : cases) {
    const auto items = FieldItems(c.Field);
    EXPECT_EQ(std::vector<std::string_view>(items.begin(), items.end()), c.Items) << FieldName(c.Field);
  }
  const auto channels = FieldItems({20, K::Channel});
  ASSERT_EQ(channels.size(), 16u);
  EXPECT_EQ(channels.front(), "0");
  EXPECT_EQ(channels.back(), "15");
}

TEST(Fields, EachReaderAndWriterHasItsRuleForANumberOutsideTheList) {
  // value in the table -> as the window loads it, as the dump sends it, as
  // the window and vellox-cli show it.
  struct Case {
    TField Field;
    int32_t V;
    int32_t Loaded;
    uint8_t Dumped;
    const char* Shown;
  } cases[] = {
      {{17, K::Value}, 200, 127, 127, "200"},
      {{17, K::Value}, -5, -5, 0, "-5"},
      {{17, K::Channel}, 20, 15, 20, "20"},
      {{17, K::Channel}, NoSelection, NoSelection, 0, "no selection"},
      {{18, K::DataType}, 9, 6, 9, "9"},
      {{18, K::DataType}, 5, 5, 5, "CC(Absolute)"},
      {{17, K::DataType}, 5, 5, 5, "5"},
      {{17, K::DataType}, NoSelection, NoSelection, 0, "no selection"},
      {GlobalField(ARPMode), 5, 5, 5, "5"},
      {GlobalField(ARPMode), 3, 3, 3, "CHRN"},
      {GlobalField(ARPMode), NoSelection, NoSelection, 0, "no selection"},
      {GlobalField(KeyChannel), 300, 300, 127, "300"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(FieldPlace(c.Field) + " " + FieldName(c.Field) + " " + std::to_string(c.V));
    EXPECT_EQ(LoadedFieldValue(c.Field.Kind, c.V), c.Loaded);
    EXPECT_EQ(DumpByte(c.V), c.Dumped);
    EXPECT_EQ(FieldValueText(c.Field, c.V), c.Shown);
  }
}

TEST(Fields, WhatVelloxCliReadsAndWhatItSendsOnlyWhenTold) {
  // field, number -> refused on reading? refused on sending and converting?
  struct Case {
    TField Field;
    int32_t V;
    bool ReadRefused;
    bool SendRefused;
    const char* Words;  // in the sentence of the refusal
  } cases[] = {
      {GlobalField(ARPMode), NoSelection, false, false, ""},
      {GlobalField(ARPMode), 5, false, true, "globals: ARP MODE 5 is no item of the editor's list (UP, DOWN, RANDOM, CHRN"},
      {GlobalField(ARPMode), 128, true, true, "globals: ARP MODE 128 is out of range 0..127"},
      {{17, K::DataType}, 5, false, true, "slider (record 17): data type 5 is no item of the editor's list (NOTE, PC"},
      {{18, K::DataType}, 5, false, false, ""},
      {{18, K::DataType}, 6, false, true, "CC(Absolute)"},
      {{19, K::Channel}, 16, false, true, "knob 2 (record 19): channel 16 is no item of the editor's list (0..15"},
      {{19, K::Channel}, NoSelection, false, false, ""},
      {{19, K::Value}, NoSelection, true, false, "knob 2 (record 19): value -1 is out of range 0..127"},
      {{19, K::Value}, 127, false, false, ""},
      // The pads' channel and data type stay in the file.
      {{2, K::Channel}, 99, false, false, ""},
      {{2, K::DataType}, -7, false, false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(FieldPlace(c.Field) + " " + FieldName(c.Field) + " " + std::to_string(c.V));
    TParaTable t;
    ApplyFactoryValues(t);
    ASSERT_FALSE(StoredFieldProblem(t));
    ASSERT_FALSE(ListPositionProblem(t));
    SetFieldValue(t, c.Field, c.V);
    const auto read = StoredFieldProblem(t);
    const auto send = ListPositionProblem(t);
    EXPECT_EQ(read.has_value(), c.ReadRefused);
    if (!c.ReadRefused) {
      EXPECT_EQ(send.has_value(), c.SendRefused);
    }
    const std::string sentence = read ? *read : send ? *send : "";
    EXPECT_NE(sentence.find(c.Words), std::string::npos) << sentence;
  }
}

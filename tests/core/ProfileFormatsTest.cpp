// The three file forms of a profile: round trips, and bad input refused with
// the file and the place named and nothing written.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "midi/HexCodec.h"
#include "profile/ProfileFormats.h"
#include "support/TempDir.h"
#include "sync/SysEx.h"

using namespace vlx;

namespace {

std::vector<uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

std::string Repeat(const std::string& s, int n) {
  std::string out;
  while (n-- > 0) out += s;
  return out;
}

// The table with the meaningless bytes after each name's characters cleared:
// what any form of the profile keeps of it.
TParaTable Clean(TParaTable t) {
  for (int n = 1; n <= ControlCount; ++n) {
    const std::string name = t[n].Name.str(), text = t[n].NameEditorText.str();
    t[n].Name = {};
    t[n].Name.assign(name);
    t[n].NameEditorText = {};
    t[n].NameEditorText.assign(text);
  }
  return t;
}

TParaTable Factory() {
  TParaTable t;
  ApplyFactoryValues(t);
  return t;
}

// Profiles the editor may meet: edited values, names with Latin-1 letters and
// of the full length, list positions beyond the lists, and the fields that
// only the file keeps holding what a foreign file may put there.
std::vector<std::pair<std::string, TParaTable>> ProfilesToKeep() {
  std::vector<std::pair<std::string, TParaTable>> out;
  out.emplace_back("factory", Factory());

  TParaTable edited = Factory();
  edited[3].Value = 0;
  edited[17].Value = 127;
  edited[17].Channel = 15;
  edited[17].DataType = 2;
  edited[19].DataType = 5;  // CC(Absolute), a knob's last position
  edited[20].Channel = 9;
  edited.GlobalBlock()[KeyChannel] = 15;
  edited.GlobalBlock()[Beat] = 5;
  out.emplace_back("edited", edited);

  TParaTable names = Factory();
  names[1].Name.assign("Caf\xE9 \xFC\xDF");  // Latin-1 letters
  names[2].Name.assign(std::string(80, 'x'));
  names[2].NameEditorText.assign("[NAME]");
  names[21].Name.assign("");
  names[5].Name.assign("quote \" backslash \\ tab\t");
  out.emplace_back("names", names);

  TParaTable foreign = Factory();
  foreign[1].ControlMode = 1;
  foreign[2].ControlMode = -7;  // no position of the list
  foreign[4].Disabled = 1;
  foreign[6].Disabled = 123456;
  foreign[7].Channel = -3;   // a pad's channel stays in the file
  foreign[8].DataType = 9;   // as does a pad's data type
  foreign[18].DataType = 100;  // a knob's, beyond its list, still a data byte
  foreign.GlobalBlock()[ARPMode] = 77;
  foreign[12].Globals[3] = -1;
  foreign[21].Globals[7] = 2147483647;
  out.emplace_back("foreign", foreign);
  return out;
}

TEST(ProfileFormats, CusToJsonToCusKeepsEveryField) {
  for (const auto& [what, table] : ProfilesToKeep()) {
    SCOPED_TRACE(what);
    const auto json = EncodeProfileAs(table, ProfileFormat::Json);
    const TLoadedProfile back = DecodeProfile(json, ProfileFormat::Json, "p.json");
    EXPECT_TRUE(CompareAllFields(table, back.Table).empty());
    EXPECT_EQ(EncodeProfile(back.Table), EncodeProfile(Clean(table)));
    // And through the .cus bytes as well.
    const TLoadedProfile cus = DecodeProfile(EncodeProfileAs(back.Table, ProfileFormat::Cus), ProfileFormat::Cus, "p.cus");
    EXPECT_EQ(EncodeProfile(cus.Table), EncodeProfile(Clean(table)));
  }
}

TEST(ProfileFormats, CusToSyxToCusKeepsWhatTheControllerStores) {
  for (const auto& [what, table] : ProfilesToKeep()) {
    SCOPED_TRACE(what);
    const auto syx = EncodeProfileAs(table, ProfileFormat::Syx);
    ASSERT_EQ(syx.size(), 44u);
    EXPECT_EQ(syx.front(), 0xF0);
    EXPECT_EQ(syx.back(), 0xF7);
    const TLoadedProfile back = DecodeProfile(syx, ProfileFormat::Syx, "p.syx");
    EXPECT_TRUE(CompareDumpFields(table, back.Table).empty());
    EXPECT_TRUE(back.FromDumpOnly);
    ASSERT_EQ(back.Notes.size(), 1u);
    EXPECT_NE(back.Notes[0].find("factory defaults"), std::string::npos);
    // What the dump does not hold is the factory profile's.
    EXPECT_EQ(back.Table[1].Name.str(), "A|PAD1");
    EXPECT_EQ(back.Table[7].Channel, 0);
    EXPECT_EQ(back.Table[2].ControlMode, 0);
  }
}

TEST(ProfileFormats, SyxIsTheEditorsDumpAndAcceptsBothDirections) {
  const TParaTable t = ProfilesToKeep()[1].second;
  TByteStream sent;
  HexTextToBytes(BuildDumpText(t), sent);  // the 47 bytes the editor sends
  ASSERT_EQ(sent.Bytes.size(), 47u);
  const auto syx = EncodeProfileAs(t, ProfileFormat::Syx);
  EXPECT_EQ(std::vector<uint8_t>(sent.Bytes.begin(), sent.Bytes.begin() + 44), syx);

  auto fromController = syx;
  fromController[2] = 0x01;
  for (const auto& bytes : {sent.Bytes, syx, fromController}) {
    EXPECT_TRUE(CompareDumpFields(t, DecodeProfile(bytes, ProfileFormat::Syx, "d.syx").Table).empty());
  }
}

struct BadInput {
  const char* What;
  ProfileFormat Format;
  std::vector<uint8_t> Bytes;
  std::string Message;  // part of the error text, after "bad.xxx: "
};

std::vector<BadInput> BadInputs() {
  const auto cus = EncodeProfile(Factory());
  const auto syx = EncodeProfileAs(Factory(), ProfileFormat::Syx);
  const std::string json = [] {
    const auto b = EncodeProfileAs(Factory(), ProfileFormat::Json);
    return std::string(b.begin(), b.end());
  }();
  const auto edit = [&](const std::string& from, const std::string& to) {
    std::string s = json;
    const auto at = s.find(from);
    if (at == std::string::npos) throw std::logic_error("no " + from);
    return Bytes(s.replace(at, from.size(), to));
  };
  std::string manyValues = "0";
  for (int i = 1; i < 300000; ++i) manyValues += ",0";
  const auto cusWith = [&](int record, std::size_t offset, int32_t v) {
    TParaTable t = Factory();
    auto b = EncodeProfile(t);
    uint8_t* p = &b[(record - 1) * RecordSize + offset];
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * i));
    return b;
  };
  const auto syxWith = [&](std::size_t at, uint8_t v) {
    auto b = syx;
    b[at] = v;
    return b;
  };
  return {
      {"cus one byte short", ProfileFormat::Cus, std::vector<uint8_t>(cus.begin(), cus.end() - 1),
       "4535 bytes; a profile file has 4536 bytes"},
      {"cus empty", ProfileFormat::Cus, {}, "0 bytes; a profile file has 4536"},
      {"cus negative value", ProfileFormat::Cus, cusWith(3, 172, -5), "pad A3 (record 3): value -5 is out of range 0..127"},
      {"cus knob channel", ProfileFormat::Cus, cusWith(19, 176, 200), "knob 2 (record 19): channel 200 is out of range"},
      {"cus global", ProfileFormat::Cus, cusWith(1, 184 + 4 * 6, 128), "globals: BEAT TYPE 128 is out of range"},
      {"json broken", ProfileFormat::Json, Bytes(json.substr(0, 200)), "not valid JSON: parse error at line"},
      {"json number beyond a double", ProfileFormat::Json, edit("\"value\": 30", "\"value\": 1e999"),
       "not valid JSON: number overflow parsing '1e999'"},
      {"json not an object", ProfileFormat::Json, Bytes("[1, 2]"), "expected a JSON object"},
      // Deep enough to overflow the stack if it were ever turned back into text.
      {"json nested 400000 levels", ProfileFormat::Json,
       edit("\"value\": 30", "\"value\": " + std::string(400000, '[') + std::string(400000, ']')),
       "not a profile: nested more than 16 levels deep"},
      {"json of 300000 values", ProfileFormat::Json, edit("\"value\": 30", "\"value\": [" + manyValues + "]"),
       "not a profile: more than 10000 values"},
      {"json beyond 1 MiB", ProfileFormat::Json, edit("\"value\": 30", "\"value\": 30" + std::string(1u << 20, ' ')),
       "more than 1 MiB; no profile is that large"},
      {"json unknown data type", ProfileFormat::Json, edit("\"CC(Relative)\"", "\"CC(relative)\""),
       "controls[17].data_type: unknown text \"CC(relative)\""},
      {"json knob list on the slider", ProfileFormat::Json, edit("\"data_type\": \"CC\"", "\"data_type\": \"CC(Absolute)\""),
       "controls[16].data_type: unknown text \"CC(Absolute)\""},
      {"json unknown global text", ProfileFormat::Json, edit("\"1/4\"", "\"1/3\""), "globals.\"ARP TIME\": unknown text \"1/3\""},
      {"json value too high", ProfileFormat::Json, edit("\"value\": 30", "\"value\": 128"),
       "controls[0].value: 128 is out of range 0..127"},
      {"json value beyond int64", ProfileFormat::Json, edit("\"value\": 30", "\"value\": 18446744073709551615"),
       "controls[0].value: 18446744073709551615 is out of range 0..127"},
      {"json value negative", ProfileFormat::Json, edit("\"value\": 7", "\"value\": -1"), "controls[16].value: -1 is out of range"},
      {"json long text cut between characters", ProfileFormat::Json,
       edit("\"value\": 30", "\"value\": \"a" + Repeat("\u00e9", 25) + "\""),
       "controls[0].value: expected a whole number, found \"a" + Repeat("\u00e9", 17) + "..."},
      {"json value not whole", ProfileFormat::Json, edit("\"value\": 12", "\"value\": 12.5"),
       "controls[17].value: expected a whole number, found 12.5"},
      {"json slider channel", ProfileFormat::Json, edit("\"value\": 7,\n      \"channel\": 0", "\"value\": 7,\n      \"channel\": 300"),
       "controls[16].channel: 300 is out of range 0..127"},
      {"json global number", ProfileFormat::Json, edit("\"KEY CHANNEL\": \"0\"", "\"KEY CHANNEL\": 128"),
       "globals.\"KEY CHANNEL\": 128 is out of range 0..127"},
      {"json missing global", ProfileFormat::Json, edit(",\n    \"KEY CHANNEL\": \"0\"", ""), "globals: missing \"KEY CHANNEL\""},
      {"json unknown global", ProfileFormat::Json, edit("\"SCALE\"", "\"SCALES\""), "globals.\"SCALES\": unknown global setting"},
      {"json duplicate control", ProfileFormat::Json, edit("\"control\": 2,", "\"control\": 1,"),
       "controls[1].control: control 1 appears twice"},
      {"json wrong kind", ProfileFormat::Json, edit("\"control\": 17,\n      \"kind\": \"slider\"", "\"control\": 17,\n      \"kind\": \"knob\""),
       "controls[16].kind: \"knob\" but control 17 is a slider"},
      {"json unknown key", ProfileFormat::Json, edit("\"disabled\": 0", "\"disabeld\": 0"), "controls[0].disabeld: unknown key"},
      {"json name outside Latin-1", ProfileFormat::Json, edit("\"Slider\"", "\"Slider \u20ac\""),
       "controls[16].name: holds a character outside Latin-1"},
      {"json name too long", ProfileFormat::Json, edit("\"Slider\"", "\"" + std::string(81, 's') + "\""),
       "controls[16].name: 81 characters; at most 80"},
      {"json version", ProfileFormat::Json, edit("\"vellox_profile\": 1", "\"vellox_profile\": 2"), "vellox_profile: this program reads version 1"},
      {"syx short", ProfileFormat::Syx, std::vector<uint8_t>(syx.begin(), syx.end() - 1), "43 bytes; a parameter dump has 44"},
      {"syx another maker", ProfileFormat::Syx, syxWith(1, 0x7E), "byte 1: 7E where a parameter dump of the vellox has 34"},
      {"syx not a dump", ProfileFormat::Syx, syxWith(3, 0x26), "byte 3: 26 where a parameter dump of the vellox has 27"},
      {"syx direction", ProfileFormat::Syx, syxWith(2, 0x02), "byte 2: 02 where a parameter dump of the vellox has 00 or 01"},
      {"syx no F7", ProfileFormat::Syx, syxWith(43, 0x00), "byte 43: 00 where a parameter dump of the vellox has F7"},
      {"syx status in the body", ProfileFormat::Syx, syxWith(10, 0x90), "byte 10 (body byte 6): 90 is not a MIDI data byte"},
  };
}

TEST(ProfileFormats, BadInputIsRefusedNamingTheFileAndThePlace) {
  for (const BadInput& bad : BadInputs()) {
    SCOPED_TRACE(bad.What);
    const std::string name = std::string("bad.") + FormatName(bad.Format);
    try {
      DecodeProfile(bad.Bytes, bad.Format, name);
      ADD_FAILURE() << "accepted";
    } catch (const EProfileFormatError& e) {
      const std::string text = e.what();
      EXPECT_EQ(text.rfind(name + ": ", 0), 0u) << text;
      EXPECT_NE(text.find(bad.Message), std::string::npos) << text;
    }
  }
}

TEST(ProfileFormats, FilesAreChosenByExtensionAndWrittenWhole) {
  TempDir dir;
  const TParaTable t = ProfilesToKeep()[2].second;
  for (const char* name : {"p.cus", "p.JSON", "p.syx"}) {
    SCOPED_TRACE(name);
    WriteProfile(dir.File(name), t);
    const TLoadedProfile back = ReadProfile(dir.File(name));
    EXPECT_TRUE(CompareDumpFields(t, back.Table).empty());
  }
  EXPECT_EQ(ReadBytes(dir.File("p.cus")), EncodeProfile(t));

  // An unknown extension, a missing file and a folder that is not there are
  // errors that name the file; nothing is left behind.
  EXPECT_THROW(FormatOfPath(dir.File("p.txt")), EProfileFormatError);
  EXPECT_THROW(FormatOfPath(dir.File("cus")), EProfileFormatError);
  try {
    ReadProfile(dir.File("missing.json"));
    ADD_FAILURE();
  } catch (const EInOutError& e) {
    EXPECT_EQ(std::string(e.what()), dir.File("missing.json") + ": File not found");
  }
  EXPECT_THROW(WriteProfile(dir.File("no/such/folder.json"), t), EInOutError);

  // A table with a field the controller cannot take is not written, and the
  // file that was there stays as it was.
  TParaTable bad = t;
  bad[18].Value = 200;
  const auto before = ReadBytes(dir.File("p.cus"));
  EXPECT_THROW(WriteProfile(dir.File("p.cus"), bad), EProfileFormatError);
  EXPECT_EQ(ReadBytes(dir.File("p.cus")), before);
  EXPECT_THROW(WriteProfile(dir.File("new.json"), bad), EProfileFormatError);
  struct stat st {};
  EXPECT_NE(::stat(dir.File("new.json").c_str(), &st), 0);
}

TEST(ProfileFormats, DifferencesAreToldInWords) {
  const TParaTable a = Factory();
  TParaTable b = a;
  b[19].Value = 39;          // knob 2
  b[17].DataType = 1;        // slider
  b[4].Value = 31;           // pad A4
  b.GlobalBlock()[ARPTime] = 3;
  b[2].Name.assign("Kick");  // only the file keeps it
  std::vector<std::string> words;
  for (const auto& d : CompareDumpFields(a, b)) words.push_back(DescribeDifference(d, "sent", "read back"));
  EXPECT_EQ(words, (std::vector<std::string>{"pad A4: value sent 33, read back 31",
                                             "slider: data type sent CC, read back PC",
                                             "knob 2: value sent 13, read back 39",
                                             "globals: ARP TIME sent 1/4, read back 1/8"}));
  const auto all = CompareAllFields(a, b);
  ASSERT_EQ(all.size(), 5u);
  EXPECT_EQ(DescribeDifference(all[4], "in a", "in b"), "pad A2: name in a \"A|PAD2\", in b \"Kick\"");
}

}  // namespace

#include "VirtualController.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace vlx {
namespace {

MidiMessage Hex(const std::string& text) { return ParseHexBytes(text); }

MidiMessage Cat(std::initializer_list<MidiMessage> parts) {
  MidiMessage out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// What the editor puts on the wire.
const MidiMessage kIdentityRequest = Hex("F0 7E 00 06 01 F7 00 00 00");
const MidiMessage kDumpRequest = Hex("F0 34 00 00 08 F7 00 00 00");
const MidiMessage kAck = Hex("F0 34 01 00 09 F7");

const std::string kFactoryBodyText =
    "1E 1F 20 21 22 23 24 25 26 27 28 29 2A 2B 2C 2D 07 00 04 0C 00 04 0D 00 04 0E 00 04 0F 00 04 "
    "00 02 01 00 01 00 03 00";
const MidiMessage kFactoryDump = Hex("F0 34 01 27 " + kFactoryBodyText + " F7");

VirtualController::Body SampleBody() {
  VirtualController::Body b{};
  for (std::size_t i = 0; i < b.size(); ++i) b[i] = static_cast<uint8_t>(0x7F - 3 * i);
  return b;
}

MidiMessage EditorDump(const VirtualController::Body& body) {
  MidiMessage m = Hex("F0 34 00 27");
  m.insert(m.end(), body.begin(), body.end());
  return Cat({m, Hex("F7 00 00 00")});
}

TEST(ParseHexBytes, AcceptsByteListsAndRejectsOthers) {
  EXPECT_EQ(ParseHexBytes("90 3C 64"), (MidiMessage{0x90, 0x3C, 0x64}));
  EXPECT_EQ(ParseHexBytes("903c64"), (MidiMessage{0x90, 0x3C, 0x64}));
  EXPECT_EQ(ParseHexBytes("0x90,0x3C, 7"), (MidiMessage{0x90, 0x3C, 0x07}));
  EXPECT_EQ(ParseHexBytes("  "), MidiMessage{});
  for (const char* bad : {"9G", "123", "0x", "90;3C"}) EXPECT_THROW(ParseHexBytes(bad), std::invalid_argument) << bad;
  EXPECT_EQ(HexBytes(MidiMessage{0xF0, 0x0A, 0x7E}), "F0 0A 7E");
}

TEST(ParseFirmwareVersion, ReadsWholeAndHundredths) {
  using V = std::pair<uint8_t, uint8_t>;
  EXPECT_EQ(ParseFirmwareVersion("1.05"), V(1, 5));
  EXPECT_EQ(ParseFirmwareVersion("2.1"), V(2, 10));
  EXPECT_EQ(ParseFirmwareVersion("0.99"), V(0, 99));
  EXPECT_EQ(ParseFirmwareVersion("3"), V(3, 0));
  EXPECT_EQ(ParseFirmwareVersion("127.00"), V(127, 0));
  for (const char* bad : {"", ".", "1.", ".5", "1.005", "128.0", "1,05", "-1.0", "1.0x", "v1.05", "1.2.3", "0001.0"}) {
    EXPECT_THROW(ParseFirmwareVersion(bad), std::invalid_argument) << bad;
  }
}

TEST(VirtualController, FactoryBodyIsTheFactoryProfile) {
  const auto& body = VirtualController::FactoryBody();
  EXPECT_EQ(MidiMessage(body.begin(), body.end()), Hex(kFactoryBodyText));
  EXPECT_EQ(VirtualController::DumpMessage(body), kFactoryDump);
}

struct ReplyCase {
  const char* name;
  VirtualControllerOptions options;
  MidiMessage input;
  std::vector<MidiMessage> replies;
};

VirtualControllerOptions Fw(uint8_t major, uint8_t minor) {
  VirtualControllerOptions o;
  o.FirmwareMajor = major;
  o.FirmwareMinor = minor;
  return o;
}

VirtualControllerOptions Silent(bool identity, bool dump, bool ack) {
  VirtualControllerOptions o;
  o.SilentIdentity = identity;
  o.SilentDump = dump;
  o.SilentAck = ack;
  return o;
}

TEST(VirtualController, RepliesToEachRequest) {
  const VirtualControllerOptions def;
  const MidiMessage dump = EditorDump(SampleBody());
  const std::vector<ReplyCase> cases = {
      {"identity, default version", def, kIdentityRequest, {Hex("F0 7E 00 06 02 1A 34 01 05 F7")}},
      {"identity without trailing bytes", def, Hex("F0 7E 00 06 01 F7"), {Hex("F0 7E 00 06 02 1A 34 01 05 F7")}},
      {"identity, version 2.10", Fw(2, 10), kIdentityRequest, {Hex("F0 7E 00 06 02 1A 34 02 0A F7")}},
      {"identity to all devices", def, Hex("F0 7E 7F 06 01 F7"), {Hex("F0 7E 00 06 02 1A 34 01 05 F7")}},
      {"identity to another device", def, Hex("F0 7E 05 06 01 F7"), {}},
      {"identity with an extra byte", def, Hex("F0 7E 00 06 01 00 F7"), {}},
      {"dump request", def, kDumpRequest, {kFactoryDump}},
      {"dump request in the controller's direction", def, Hex("F0 34 01 00 08 F7"), {}},
      {"parameter dump", def, dump, {kAck}},
      {"silent identity", Silent(true, false, false), kIdentityRequest, {}},
      {"silent dump", Silent(false, true, false), kDumpRequest, {}},
      {"silent ack", Silent(false, false, true), dump, {}},
      {"silent identity still sends dumps", Silent(true, false, false), kDumpRequest, {kFactoryDump}},
      {"short message", def, Hex("90 3C 64"), {}},
      {"unknown SysEx", def, Hex("F0 34 00 01 F7"), {}},
      {"three requests in one buffer",
       def,
       Cat({kIdentityRequest, kDumpRequest, dump}),
       {Hex("F0 7E 00 06 02 1A 34 01 05 F7"), kFactoryDump, kAck}},
  };
  for (const auto& c : cases) {
    VirtualController vc(c.options);
    EXPECT_EQ(vc.Receive(c.input), c.replies) << c.name;
  }
}

TEST(VirtualController, StoresADumpAndSendsItBack) {
  VirtualController vc;
  const auto body = SampleBody();
  ASSERT_EQ(vc.Receive(EditorDump(body)), std::vector<MidiMessage>{kAck});
  EXPECT_EQ(vc.Profile(), body);
  EXPECT_EQ(vc.DumpsStored(), 1u);
  EXPECT_EQ(vc.Receive(kDumpRequest), std::vector<MidiMessage>{VirtualController::DumpMessage(body)});

  vc.ResetProfile();
  EXPECT_EQ(vc.Receive(kDumpRequest), std::vector<MidiMessage>{kFactoryDump});
}

TEST(VirtualController, SilentAckStillStoresTheDump) {
  VirtualController vc(Silent(false, false, true));
  EXPECT_TRUE(vc.Receive(EditorDump(SampleBody())).empty());
  EXPECT_EQ(vc.Profile(), SampleBody());
  vc.SetSilentAck(false);
  EXPECT_EQ(vc.Receive(EditorDump(VirtualController::FactoryBody())), std::vector<MidiMessage>{kAck});
}

// A faulty controller stores one chosen body byte one higher than sent
// (7F wraps to 00), still acknowledges, and sends back what it stored.
TEST(VirtualController, StoresOneByteWronglyWhenAsked) {
  VirtualController vc;
  vc.SetStoreWrongByte(22);
  auto body = SampleBody();
  body[22] = 0x28;
  body[5] = 0x7F;
  ASSERT_EQ(vc.Receive(EditorDump(body)), std::vector<MidiMessage>{kAck});
  auto stored = body;
  stored[22] = 0x29;
  EXPECT_EQ(vc.Profile(), stored);
  EXPECT_EQ(vc.Receive(kDumpRequest), std::vector<MidiMessage>{VirtualController::DumpMessage(stored)});
  vc.SetStoreWrongByte(5);
  vc.Receive(EditorDump(body));
  EXPECT_EQ(vc.Profile()[5], 0x00);
  EXPECT_EQ(vc.Profile()[22], 0x28);
  vc.SetStoreWrongByte(-1);
  vc.Receive(EditorDump(body));
  EXPECT_EQ(vc.Profile(), body);
  EXPECT_THROW(vc.SetStoreWrongByte(39), std::invalid_argument);
  VirtualControllerOptions bad;
  bad.StoreWrongByte = -2;
  EXPECT_THROW(vc.SetOptions(bad), std::invalid_argument);
}

// Each input is fed, then a good identity request: the controller must stay
// in step, answer that request once, and keep its profile.
TEST(VirtualController, SurvivesMalformedInput) {
  struct Case {
    const char* name;
    MidiMessage input;
    std::size_t discarded;
  };
  MidiMessage huge(100000, 0x01);
  huge.front() = 0xF0;
  huge.back() = 0xF7;
  MidiMessage hugeOpen(100000, 0x22);
  hugeOpen.front() = 0xF0;
  MidiMessage body38 = EditorDump(SampleBody());
  body38.erase(body38.begin() + 10);
  MidiMessage body40 = EditorDump(SampleBody());
  body40.insert(body40.begin() + 10, 0x11);
  MidiMessage allFF = EditorDump(SampleBody());
  std::fill(allFF.begin() + 4, allFF.begin() + 43, 0xFF);
  MidiMessage statusInBody = EditorDump(SampleBody());
  statusInBody[20] = 0x80;

  const std::vector<Case> cases = {
      {"nothing", {}, 0},
      {"stray F7 and zeros", Hex("F7 00 00 F7 7F"), 0},
      {"SysEx without F7", Hex("F0 34 00 27 01 02"), 1},
      {"identity request without F7", Hex("F0 7E 00 06 01"), 1},
      {"dump with a 38-byte body", body38, 0},
      {"dump with a 40-byte body", body40, 0},
      {"dump full of FF", allFF, 0},
      {"status byte inside a dump", statusInBody, 1},
      {"100000-byte SysEx", huge, 1},
      {"100000 bytes without F7", hugeOpen, 1},
      {"lone F0", Hex("F0"), 1},
  };
  for (const auto& c : cases) {
    VirtualController vc;
    std::vector<MidiMessage> replies = vc.Receive(c.input);
    auto more = vc.Receive(kIdentityRequest);
    replies.insert(replies.end(), more.begin(), more.end());
    EXPECT_EQ(replies, std::vector<MidiMessage>{Hex("F0 7E 00 06 02 1A 34 01 05 F7")}) << c.name;
    EXPECT_EQ(vc.Profile(), VirtualController::FactoryBody()) << c.name;
    EXPECT_EQ(vc.DumpsStored(), 0u) << c.name;
    EXPECT_EQ(vc.Discarded(), c.discarded) << c.name;
    for (const auto& m : vc.Received()) EXPECT_LE(m.size(), VirtualController::MaxSysExSize) << c.name;
  }
  VirtualController vc;
  EXPECT_TRUE(vc.Receive(nullptr, 0).empty());
}

TEST(VirtualController, SysExOfExactlyTheLimitIsKept) {
  MidiMessage atLimit(VirtualController::MaxSysExSize, 0x01);
  atLimit.front() = 0xF0;
  atLimit.back() = 0xF7;
  MidiMessage overLimit = atLimit;
  overLimit.insert(overLimit.begin() + 1, 0x01);

  VirtualController vc;
  vc.Receive(atLimit);
  vc.Receive(overLimit);
  EXPECT_EQ(vc.Received(), std::vector<MidiMessage>{atLimit});
  EXPECT_EQ(vc.Discarded(), 1u);
}

TEST(VirtualController, ChunkedInputGivesTheSameReplies) {
  const MidiMessage session = Cat({Hex("FE 00"), kIdentityRequest, EditorDump(SampleBody()), Hex("90 3C 64"),
                                   kDumpRequest, Hex("F0 34 00"), kIdentityRequest});
  VirtualController whole;
  const auto expected = whole.Receive(session);
  // identity reply, ack, the stored dump, and the reply to the request that
  // cut off "F0 34 00".
  ASSERT_EQ(expected.size(), 4u);

  for (std::size_t chunk = 1; chunk <= session.size(); ++chunk) {
    VirtualController vc;
    std::vector<MidiMessage> replies;
    for (std::size_t i = 0; i < session.size(); i += chunk) {
      auto r = vc.Receive(session.data() + i, std::min(chunk, session.size() - i));
      replies.insert(replies.end(), r.begin(), r.end());
    }
    ASSERT_EQ(replies, expected) << "chunk " << chunk;
    ASSERT_EQ(vc.Received(), whole.Received()) << "chunk " << chunk;
  }
}

TEST(VirtualController, LogsCompleteMessagesOnly) {
  VirtualController vc;
  vc.Receive(Cat({kIdentityRequest, Hex("90 3C 64 3E 40 C1 05 06 F8 80 3C 00")}));
  EXPECT_EQ(vc.Received(), (std::vector<MidiMessage>{Hex("F0 7E 00 06 01 F7"), Hex("90 3C 64"), Hex("90 3E 40"),
                                                     Hex("C1 05"), Hex("C1 06"), Hex("80 3C 00")}));
  vc.ClearReceived();
  EXPECT_TRUE(vc.Received().empty());

  // The log keeps the newest messages.
  for (std::size_t i = 0; i < VirtualController::MaxLogEntries + 5; ++i) {
    vc.Receive(MidiMessage{0xB0, static_cast<uint8_t>(i % 128), static_cast<uint8_t>(i / 128)});
  }
  const auto log = vc.Received();
  ASSERT_EQ(log.size(), VirtualController::MaxLogEntries);
  const std::size_t last = VirtualController::MaxLogEntries + 4;
  EXPECT_EQ(log.back(), (MidiMessage{0xB0, static_cast<uint8_t>(last % 128), static_cast<uint8_t>(last / 128)}));
  EXPECT_EQ(log.front(), (MidiMessage{0xB0, 5, 0}));
}

TEST(VirtualController, LoggerSeesWhatComesAndGoes) {
  VirtualController vc;
  std::vector<std::string> lines;
  vc.SetLogger([&](const std::string& line) { lines.push_back(line); });
  vc.Receive(Cat({kIdentityRequest, Hex("F0 01 90 3C 64")}));
  EXPECT_EQ(lines, (std::vector<std::string>{"rx F0 7E 00 06 01 F7 (identity request)",
                                             "rx SysEx of 2 bytes discarded (no F7)", "rx 90 3C 64",
                                             "tx F0 7E 00 06 02 1A 34 01 05 F7"}));
}

TEST(VirtualController, RejectsBytesThatAreNotDataBytes) {
  VirtualController vc;
  EXPECT_THROW(vc.SetFirmware(0x80, 0), std::invalid_argument);
  EXPECT_THROW(vc.SetFirmware(1, 0xFF), std::invalid_argument);
  VirtualControllerOptions o;
  o.FirmwareMinor = 200;
  EXPECT_THROW(vc.SetOptions(o), std::invalid_argument);
  EXPECT_THROW(VirtualController{o}, std::invalid_argument);
  auto body = SampleBody();
  body[7] = 0x80;
  EXPECT_THROW(vc.SetProfile(body), std::invalid_argument);
  EXPECT_EQ(vc.Profile(), VirtualController::FactoryBody());
  EXPECT_EQ(vc.Options().FirmwareMajor, 1);
  EXPECT_EQ(vc.Options().FirmwareMinor, 5);
}

}  // namespace
}  // namespace vlx

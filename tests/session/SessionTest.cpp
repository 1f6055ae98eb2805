// The synchronous session against the in-process virtual controller.
#include "session/Session.h"

#include <gtest/gtest.h>

#include "VirtualControllerService.h"

namespace vlx {
namespace {

using namespace std::chrono_literals;

TSessionOptions Options(std::chrono::milliseconds timeout = 1000ms) {
  TSessionOptions o;
  o.Timeout = timeout;
  o.UsbPresent = [] { return true; };
  return o;
}

VirtualController::Body SomeProfile() {
  VirtualController::Body b = VirtualController::FactoryBody();
  b[0] = 0x40;
  b[19] = 40;  // knob 1's value
  b[20] = 3;   // its channel
  b[38] = 11;  // key channel
  return b;
}

std::string ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const ENoController& e) {
    return e.what();
  }
  return "(no error)";
}

TEST(Session, ConnectsReadsAndWritesAsTheEditorDoes) {
  auto service = std::make_shared<VirtualControllerService>();
  VirtualController& controller = service->Controller();
  controller.SetFirmware(2, 10);
  controller.SetProfile(SomeProfile());
  service->AddInput("Midi Through", 0);
  service->AddOutput("Midi Through", 0);
  TSession session(service, Options());

  EXPECT_EQ(session.Connect(), 210);
  EXPECT_EQ(session.InputName(), "vellox");
  EXPECT_EQ(session.OutputName(), "vellox");

  const TDumpBody read = session.ReadBody();
  EXPECT_TRUE(std::equal(read.begin(), read.end(), SomeProfile().begin()));

  TParaTable table;
  ApplyFactoryValues(table);
  table[20].Value = 99;
  controller.ClearReceived();
  const auto sent = session.WriteTable(table);
  const auto expected = ParseHexBytes(
      "F0 34 00 27 1E 1F 20 21 22 23 24 25 26 27 28 29 2A 2B 2C 2D 07 00 04 0C 00 04 0D 00 04 63 00 04 0F 00 04 "
      "00 02 01 00 01 00 03 00 F7 00 00 00");
  EXPECT_EQ(sent, expected);
  const auto received = controller.Received();
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0], MidiMessage(expected.begin(), expected.begin() + 44));  // up to F7
  EXPECT_EQ(controller.Profile()[25], 99);
  EXPECT_TRUE(CompareDumpFields(table, TableOfDumpBody(session.ReadBody())).empty());
}

TEST(Session, AFaultyControllerShowsInTheReadBack) {
  auto service = std::make_shared<VirtualControllerService>();
  service->Controller().SetStoreWrongByte(22);  // knob 2's value
  TSession session(service, Options());
  session.Connect();
  TParaTable table;
  ApplyFactoryValues(table);
  table[19].Value = 40;
  session.WriteTable(table);
  const auto diffs = CompareDumpFields(table, TableOfDumpBody(session.ReadBody()));
  ASSERT_EQ(diffs.size(), 1u);
  EXPECT_EQ(DescribeDifference(diffs[0], "sent", "read back"), "knob 2: value sent 40, read back 41");
}

TEST(Session, NoControllerAndNoAnswerAreToldApart) {
  {  // only another client's ports
    auto service = std::make_shared<VirtualControllerService>();
    service->Unplug();
    service->AddInput("Midi Through");
    service->AddOutput("Midi Through");
    TSession session(service, Options());
    EXPECT_EQ(ErrorOf([&] { session.Connect(); }),
              "no controller: no MIDI output port named \"vellox\" or beginning with \"USB\"");
  }
  {  // no input at all
    auto service = std::make_shared<VirtualControllerService>();
    service->Unplug();
    TSession session(service, Options());
    EXPECT_NE(ErrorOf([&] { session.Connect(); }).find("no MIDI input port at all"), std::string::npos);
  }
  {  // the ports are there but the USB device is not
    auto service = std::make_shared<VirtualControllerService>();
    TSessionOptions o = Options();
    o.UsbPresent = [] { return false; };
    TSession session(service, o);
    EXPECT_NE(ErrorOf([&] { session.Connect(); }).find("no USB device 2F1B:0A07"), std::string::npos);
    // A port named on the command line needs no USB check.
    o.PortName = "vellox";
    TSession named(service, o);
    EXPECT_EQ(named.Connect(), 105);
  }
  {  // silent answers
    auto service = std::make_shared<VirtualControllerService>();
    service->Controller().SetSilentIdentity(true);
    TSession session(service, Options(150ms));
    EXPECT_EQ(ErrorOf([&] { session.Connect(); }),
              "no answer: the controller did not answer the identity request on \"vellox\" within 150 ms");
    service->Controller().SetSilentIdentity(false);
    service->Controller().SetSilentDump(true);
    service->Controller().SetSilentAck(true);
    TSession session2(service, Options(150ms));
    session2.Connect();
    EXPECT_EQ(ErrorOf([&] { session2.ReadBody(); }),
              "no answer: the controller sent no parameter dump within 150 ms");
    TParaTable table;
    ApplyFactoryValues(table);
    EXPECT_EQ(ErrorOf([&] { session2.WriteTable(table); }),
              "no answer: the controller sent no acknowledgement of the dump within 150 ms");
  }
}

TEST(Session, FallsBackToUsbPortsAndTalksToTheOneThatAnswered) {
  auto service = std::make_shared<VirtualControllerService>(nullptr, "USB MIDI 2");
  service->AddOutput("USB MIDI 1", 0);  // a device that never answers
  service->AddInput("USB MIDI 1", 0);
  TSession session(service, Options());
  const auto choice = session.Choose();
  EXPECT_TRUE(choice.Fallback);
  EXPECT_EQ(choice.Outputs.size(), 2u);
  EXPECT_EQ(session.Connect(), 105);
  EXPECT_EQ(session.OutputName(), "USB MIDI 2");
  EXPECT_EQ(session.ReadBody()[0], 0x1E);
}

TEST(Session, TheWrongProfileIsNeverSent) {
  auto service = std::make_shared<VirtualControllerService>();
  TSession session(service, Options());
  session.Connect();
  service->Controller().ClearReceived();
  TParaTable table;
  ApplyFactoryValues(table);
  table[17].Channel = -2;  // neither a data byte nor a list without a selection (-1)
  EXPECT_THROW(session.WriteTable(table), EProfileFormatError);
  service->WaitIdle();
  EXPECT_TRUE(service->Controller().Received().empty());
}

}  // namespace
}  // namespace vlx

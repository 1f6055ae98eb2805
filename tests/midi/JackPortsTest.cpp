// The port layer on the real MIDI service (RtMidi on a JACK server), talking
// to a peer client named "vellox" that reads and writes JACK directly.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <thread>

#include "midi/Midi.h"
#include "midi/RtMidiService.h"
#include "tools/jackpeer/JackPeer.h"

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

template <typename F>
bool WaitUntil(F done, std::chrono::milliseconds timeout = 3s) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

int32_t IndexOf(const vlx::TMidiDevices& list, const std::string& name) {
  for (int32_t i = 0; i < list.Count(); ++i)
    if (list.Name(i) == name) return i;
  return -1;
}

std::vector<std::string> Names(const vlx::TMidiDevices& list) {
  std::vector<std::string> names;
  for (int32_t i = 0; i < list.Count(); ++i) names.push_back(list.Name(i));
  return names;
}

bool AnyOwn(const std::vector<std::string>& names) {
  return std::any_of(names.begin(), names.end(), [](const std::string& n) { return n.rfind("VLX210", 0) == 0; });
}

class JackPorts : public ::testing::Test {
 protected:
  std::shared_ptr<vlx::IMidiService> NewService() { return vlx::CreateRtMidiService(vlx::MidiApiChoice::Jack); }

  static vlx::JackPeer::Options Controller() {
    vlx::JackPeer::Options options;
    options.ClientName = "vellox";
    return options;
  }

  vlx::JackPeer peer{Controller()};
  std::shared_ptr<vlx::IMidiService> service = NewService();
  vlx::TMidiModule midi{service};
};

TEST_F(JackPorts, ListsNameThePeersClientAndLeaveOutTheEditorsOwnPorts) {
  ASSERT_EQ(peer.ClientName(), "vellox");
  auto& in = midi.InputPorts();
  auto& out = midi.OutputPorts();
  const int32_t vin = IndexOf(in, "vellox");
  const int32_t vout = IndexOf(out, "vellox");
  ASSERT_GE(vin, 0);
  ASSERT_GE(vout, 0);
  const auto names = Names(in);
  EXPECT_EQ(std::count(names.begin(), names.end(), "vellox"), 1);
  EXPECT_EQ(in.Devices[vin].Id.Key, "vellox:out");
  EXPECT_EQ(out.Devices[vout].Id.Key, "vellox:in");

  // With the editor's ports open (one client per port, the later ones renamed
  // "VLX210-01" and so on), a fresh list still shows only the peer.
  in.Open(vin);
  out.Open(vout);
  ASSERT_TRUE(WaitUntil([&] { return peer.InConnections() == 1 && peer.OutConnections() == 1; }));
  EXPECT_EQ(peer.FindPorts("VLX210", true).size(), 1u);
  EXPECT_EQ(peer.FindPorts("VLX210", false).size(), 1u);
  vlx::TMidiModule second(NewService());
  EXPECT_FALSE(AnyOwn(Names(second.InputPorts()))) << ::testing::PrintToString(Names(second.InputPorts()));
  EXPECT_FALSE(AnyOwn(Names(second.OutputPorts()))) << ::testing::PrintToString(Names(second.OutputPorts()));
  EXPECT_GE(IndexOf(second.InputPorts(), "vellox"), 0);
}

TEST_F(JackPorts, OpenAndCloseRules) {
  auto& in = midi.InputPorts();
  auto& out = midi.OutputPorts();
  const int32_t vin = IndexOf(in, "vellox");
  const int32_t vout = IndexOf(out, "vellox");
  ASSERT_GE(vin, 0);
  ASSERT_GE(vout, 0);

  out.Open(vout);
  const auto* handle = out.DeviceHandle(vout);
  out.Open(vout);
  EXPECT_EQ(out.DeviceHandle(vout), handle);
  ASSERT_TRUE(WaitUntil([&] { return peer.InConnections() == 1; }));
  out.Close(vout);
  EXPECT_EQ(out.DeviceHandle(vout), nullptr);
  EXPECT_THROW(out.Close(vout), vlx::EMidiError);
  ASSERT_TRUE(WaitUntil([&] { return peer.InConnections() == 0; }));

  in.Open(vin);
  in.Open(vin);
  ASSERT_TRUE(WaitUntil([&] { return peer.OutConnections() == 1; }));
  in.Close(vin);
  EXPECT_NO_THROW(in.Close(vin));
  ASSERT_TRUE(WaitUntil([&] { return peer.OutConnections() == 0; }));

  // A port that has gone since the list was made cannot be opened, and says so.
  peer.RemovePorts();
  try {
    out.Open(vout);
    FAIL() << "opened a port that has gone";
  } catch (const vlx::EMidiError& e) {
    EXPECT_NE(std::string(e.what()).find("vellox:in"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(out.IsOpen(vout));
}

TEST_F(JackPorts, SendSysExPutsExactlyTheTextsBytesOnTheWire) {
  auto& out = midi.OutputPorts();
  const int32_t vout = IndexOf(out, "vellox");
  ASSERT_GE(vout, 0);
  out.Open(vout);
  ASSERT_TRUE(WaitUntil([&] { return peer.InConnections() == 1; }));

  out.SendSysEx(vout, "F0 7E 00 06 01 F7 00 00 00 00");
  ASSERT_TRUE(peer.WaitForEvents(1, 3s));
  EXPECT_EQ(peer.TakeReceived(), (std::vector<Bytes>{{0xF0, 0x7E, 0x00, 0x06, 0x01, 0xF7, 0x00, 0x00, 0x00}}));

  // While the probe finds no input, nothing goes out; afterwards sends work.
  midi.LastProbeResult = vlx::BadDeviceId;
  out.SendSysEx(vout, "F0 34 00 01 F7 00 00 00 00");
  midi.LastProbeResult = 0;
  out.SendSysEx(vout, "F0 34 00 02 F7 00 00 00 00");
  ASSERT_TRUE(peer.WaitForEvents(1, 3s));
  std::this_thread::sleep_for(100ms);  // room for a wrongly sent first message to show up too
  EXPECT_EQ(peer.TakeReceived(), (std::vector<Bytes>{{0xF0, 0x34, 0x00, 0x02, 0xF7, 0x00, 0x00, 0x00}}));
}

TEST_F(JackPorts, IncomingSysExAndShortMessagesReachTheHandlers) {
  auto& in = midi.InputPorts();
  const int32_t vin = IndexOf(in, "vellox");
  ASSERT_GE(vin, 0);
  struct Short {
    int32_t port, status, data1, data2;
    bool operator==(const Short&) const = default;
  };
  std::mutex mutex;
  std::vector<Short> shorts;
  std::vector<std::pair<int32_t, Bytes>> sysex;
  in.OnMidiData = [&](int32_t port, uint8_t s, uint8_t d1, uint8_t d2) {
    std::lock_guard lock(mutex);
    shorts.push_back({port, s, d1, d2});
  };
  in.OnSysExData = [&](int32_t port, vlx::TByteStream& stream) {
    std::lock_guard lock(mutex);
    EXPECT_EQ(stream.Position, 0u);
    sysex.emplace_back(port, stream.Bytes);
  };
  in.Open(vin);
  ASSERT_TRUE(WaitUntil([&] { return peer.OutConnections() == 1; }));

  const Bytes reply = {0xF0, 0x7E, 0x00, 0x06, 0x02, 0x1A, 0x34, 0x00, 0x00, 0x01, 0x05, 0xF7};
  ASSERT_TRUE(peer.Send(reply));
  ASSERT_TRUE(peer.Send({0x90, 0x3C, 0x64}));
  ASSERT_TRUE(peer.Send({0xFE}));  // active sensing is not passed on
  ASSERT_TRUE(peer.Send({0xF8}));  // a timing clock is
  ASSERT_TRUE(WaitUntil([&] {
    std::lock_guard lock(mutex);
    return shorts.size() >= 2;
  }));
  std::this_thread::sleep_for(50ms);
  std::lock_guard lock(mutex);
  EXPECT_EQ(shorts, (std::vector<Short>{{vin, 144, 60, 100}, {vin, 248, 0, 0}}));
  ASSERT_EQ(sysex.size(), 1u);
  EXPECT_EQ(sysex[0].first, vin);
  EXPECT_EQ(sysex[0].second, reply);
}

TEST_F(JackPorts, ProbeReportsNoInputOnceThePeersPortsAreGone) {
  auto& in = midi.InputPorts();
  auto& out = midi.OutputPorts();
  const int32_t vin = IndexOf(in, "vellox");
  const int32_t vout = IndexOf(out, "vellox");
  ASSERT_GE(vin, 0);
  ASSERT_GE(vout, 0);
  in.Open(vin);
  out.Open(vout);  // the editor's own output is an input of the server's, and must not count

  EXPECT_EQ(midi.ProbeInputDevice(), 0);
  peer.RemovePorts();
  EXPECT_TRUE(WaitUntil([&] { return midi.ProbeInputDevice() == vlx::BadDeviceId; }));
  EXPECT_EQ(midi.LastProbeResult, vlx::BadDeviceId);
  EXPECT_NO_THROW(out.SendSysEx(vout, "F0 7E 00 06 01 F7 00 00 00 00"));

  // Release closes what is still open; the lists can be made again, empty now.
  midi.Release();
  EXPECT_EQ(IndexOf(midi.InputPorts(), "vellox"), -1);

  // Every listing and probe of this service went through one JACK client.
  EXPECT_EQ(static_cast<vlx::RtMidiService&>(*service).ListingClientOpens(), 1);
}

// Listing, probing and renewing the lists again and again, as the window
// does while it waits for the controller, opens one JACK client in all.
TEST_F(JackPorts, OneClientServesEveryListingAndProbe) {
  auto& rt = static_cast<vlx::RtMidiService&>(*service);
  EXPECT_EQ(rt.ListingClientOpens(), 0) << "nothing is opened before the first use";
  for (int i = 0; i < 20; ++i) {
    ASSERT_GE(IndexOf(midi.InputPorts(), "vellox"), 0);
    ASSERT_GE(IndexOf(midi.OutputPorts(), "vellox"), 0);
    ASSERT_EQ(midi.ProbeInputDevice(), 0);
    midi.Release();
  }
  EXPECT_TRUE(service->Reachable());
  EXPECT_EQ(rt.ListingClientOpens(), 1);
}

}  // namespace

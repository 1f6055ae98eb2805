// The port layer against the in-process fake service: what a real MIDI
// service cannot easily be made to do.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "midi/DeferredMidiService.h"
#include "midi/FakeMidiService.h"
#include "midi/Midi.h"

namespace {

using vlx::EMidiError;
using vlx::FakeMidiService;
using vlx::TByteStream;
using vlx::TMidiModule;
using Bytes = std::vector<uint8_t>;

std::string ErrorText(const std::function<void()>& f) {
  try {
    f();
  } catch (const EMidiError& e) {
    return e.what();
  }
  return "(no error)";
}

// What the handlers of the input list saw.
struct Received {
  struct Short {
    int32_t port;
    uint8_t status, data1, data2;
    bool operator==(const Short&) const = default;
  };
  std::mutex mutex;
  std::vector<Short> shorts;
  std::vector<std::pair<int32_t, Bytes>> sysex;

  void Install(vlx::TMidiInput& in) {
    in.OnMidiData = [this](int32_t port, uint8_t s, uint8_t d1, uint8_t d2) {
      std::lock_guard lock(mutex);
      shorts.push_back({port, s, d1, d2});
    };
    in.OnSysExData = [this](int32_t port, TByteStream& stream) {
      EXPECT_EQ(stream.Position, 0u);
      std::lock_guard lock(mutex);
      sysex.emplace_back(port, stream.Bytes);
    };
  }
};

class MidiPorts : public ::testing::Test {
 protected:
  void SetUp() override {
    in0 = fake->AddInput("USB MIDI", "usb-in");
    in1 = fake->AddInput("vellox", "vellox-in");
    out0 = fake->AddOutput("USB MIDI", "usb-out");
    out1 = fake->AddOutput("vellox", "vellox-out");
    out2 = fake->AddOutput("Synth", "synth-out");
  }

  std::shared_ptr<FakeMidiService> fake = std::make_shared<FakeMidiService>();
  TMidiModule midi{fake};
  std::string in0, in1, out0, out1, out2;
};

TEST_F(MidiPorts, ListsHoldTheServicePortsInOrderAndAreMadeOnce) {
  auto& in = midi.InputPorts();
  auto& out = midi.OutputPorts();
  ASSERT_EQ(in.Count(), 2);
  EXPECT_EQ(in.Name(0), "USB MIDI");
  EXPECT_EQ(in.Name(1), "vellox");
  ASSERT_EQ(out.Count(), 3);
  EXPECT_EQ(out.Name(2), "Synth");
  // A port added later is not seen: the lists are fixed at creation.
  fake->AddInput("Late");
  EXPECT_EQ(&midi.InputPorts(), &in);
  EXPECT_EQ(midi.InputPorts().Count(), 2);
}

TEST(MidiPortsEmpty, NoPortsGiveEmptyLists) {
  auto fake = std::make_shared<FakeMidiService>();
  TMidiModule midi(fake);
  EXPECT_EQ(midi.InputPorts().Count(), 0);
  EXPECT_EQ(midi.OutputPorts().Count(), 0);
  EXPECT_EQ(midi.ProbeInputDevice(), vlx::BadDeviceId);
}

TEST_F(MidiPorts, IndexOutsideTheListRaisesTheConnectionText) {
  auto& in = midi.InputPorts();
  auto& out = midi.OutputPorts();
  EXPECT_EQ(ErrorText([&] { out.DeviceHandle(5); }), "TMidiOutput: 请检查USB设备是否正常连接! (5)");
  EXPECT_EQ(ErrorText([&] { out.Open(3); }), "TMidiOutput: 请检查USB设备是否正常连接! (3)");
  EXPECT_EQ(ErrorText([&] { out.Close(-1); }), "TMidiOutput: 请检查USB设备是否正常连接! (-1)");
  EXPECT_EQ(ErrorText([&] { in.DeviceHandle(2); }), "TMidiInput: 请检查USB设备是否正常连接! (2)");
  EXPECT_EQ(ErrorText([&] { in.Open(7); }), "TMidiInput: 请检查USB设备是否正常连接! (7)");
  EXPECT_EQ(ErrorText([&] { in.Close(2); }), "TMidiInput: 请检查USB设备是否正常连接! (2)");
  EXPECT_EQ(ErrorText([&] { in.Name(2); }), "TMidiInput: 请检查USB设备是否正常连接! (2)");
}

TEST_F(MidiPorts, OpenAndCloseRules) {
  auto& in = midi.InputPorts();
  auto& out = midi.OutputPorts();

  EXPECT_EQ(in.DeviceHandle(1), nullptr);
  in.Open(1);
  const auto* handle = in.DeviceHandle(1);
  ASSERT_NE(handle, nullptr);
  in.Open(1);  // already open: nothing changes
  EXPECT_EQ(in.DeviceHandle(1), handle);
  EXPECT_EQ(fake->OpenInputCount(), 1);
  in.Close(1);
  EXPECT_FALSE(in.IsOpen(1));
  EXPECT_EQ(fake->OpenInputCount(), 0);
  EXPECT_NO_THROW(in.Close(1));  // input Close on a closed port: nothing

  out.Open(2);
  out.Open(2);
  EXPECT_EQ(fake->OpenOutputCount(), 1);
  out.Close(2);
  EXPECT_EQ(fake->OpenOutputCount(), 0);
  // Output Close on a closed port raises the invalid-handle text.
  EXPECT_EQ(ErrorText([&] { out.Close(2); }), "Invalid MIDI output handle: port 2 (\"Synth\") is not open.");
  EXPECT_EQ(out.LastResult, vlx::InvalidHandle);
}

TEST_F(MidiPorts, PortThatFailsToOpenRaisesTheServiceText) {
  fake->FailOpen(out1, "MidiOutJack::openPort: JACK error creating port");
  fake->FailOpen(in0, "MidiInAlsa::openPort: ALSA error making port connection.");
  auto& out = midi.OutputPorts();
  auto& in = midi.InputPorts();

  EXPECT_EQ(ErrorText([&] { out.Open(1); }), "MidiOutJack::openPort: JACK error creating port");
  EXPECT_EQ(out.LastResult, vlx::MidiServiceFailed);
  EXPECT_FALSE(out.IsOpen(1));
  EXPECT_EQ(ErrorText([&] { in.Open(0); }), "MidiInAlsa::openPort: ALSA error making port connection.");
  EXPECT_FALSE(in.IsOpen(0));

  // A port that has gone since the list was made names itself in the error.
  fake->RemoveInput(in1);
  EXPECT_EQ(ErrorText([&] { in.Open(1); }), "MIDI input \"vellox-in\" is no longer available.");

  out.Open(0);  // the others still open
  EXPECT_EQ(out.LastResult, 0);
}

TEST(MidiPortsEnumeration, FailingServiceRaisesItsTextAndTheListIsMadeLater) {
  auto fake = std::make_shared<FakeMidiService>();
  fake->AddInput("vellox");
  TMidiModule midi(fake);
  fake->FailEnumeration("MidiInJack::getPortCount: JACK server gone");
  EXPECT_EQ(ErrorText([&] { midi.InputPorts(); }), "MidiInJack::getPortCount: JACK server gone");
  // The probe cannot tell and does not claim that the device has gone.
  EXPECT_EQ(midi.ProbeInputDevice(), vlx::MidiServiceFailed);
  fake->FailEnumeration("");
  EXPECT_EQ(midi.InputPorts().Count(), 1);
}

TEST_F(MidiPorts, SendSysExSendsTheTextsBytesToTheOpenPortOnly) {
  auto& out = midi.OutputPorts();
  out.Open(1);
  out.SendSysEx(1, "F0 7E 00 06 01 F7 00 00 00 00");
  EXPECT_EQ(fake->Sent(out1), (std::vector<Bytes>{{0xF0, 0x7E, 0x00, 0x06, 0x01, 0xF7, 0x00, 0x00, 0x00}}));

  TByteStream stream;
  stream.Bytes = {0xF0, 0x34, 0x01, 0xF7};
  stream.Position = 2;
  out.SendSysExStream(1, stream);
  EXPECT_EQ(stream.Position, 0u);
  EXPECT_EQ(fake->Sent(out1).back(), stream.Bytes);

  // Not open, outside the list, a failing service: nothing sent, nothing raised.
  fake->ClearSent();
  fake->FailSend(out1, "MidiOutJack::sendMessage: could not write");
  EXPECT_NO_THROW(out.SendSysEx(0, "F0 7E 00 06 01 F7 00 00 00 00"));
  EXPECT_NO_THROW(out.SendSysEx(3, "F0 7E 00 06 01 F7 00 00 00 00"));
  EXPECT_NO_THROW(out.SendSysEx(-1, "F0 7E 00 06 01 F7 00 00 00 00"));
  EXPECT_NO_THROW(out.SendSysEx(1, "F0 7E 00 06 01 F7 00 00 00 00"));
  EXPECT_EQ(out.LastResult, vlx::MidiServiceFailed);
  EXPECT_TRUE(fake->Sent(out0).empty());
  EXPECT_TRUE(fake->Sent(out1).empty());
}

TEST_F(MidiPorts, NothingIsSentWhileTheProbeFindsNoInput) {
  auto& out = midi.OutputPorts();
  out.Open(1);
  fake->RemoveInput(in0);
  EXPECT_EQ(midi.ProbeInputDevice(), 0);  // one input left
  fake->RemoveInput(in1);
  EXPECT_EQ(midi.ProbeInputDevice(), vlx::BadDeviceId);
  EXPECT_EQ(midi.LastProbeResult, vlx::BadDeviceId);
  out.SendSysEx(1, "F0 7E 00 06 01 F7 00 00 00 00");
  EXPECT_TRUE(fake->Sent(out1).empty());
  // The probe keeps its meaning: another input coming back lets sends go.
  fake->AddInput("Keyboard");
  EXPECT_EQ(midi.ProbeInputDevice(), 0);
  out.SendSysEx(1, "F0 7E 00 06 01 F7 00 00 00 00");
  EXPECT_EQ(fake->Sent(out1).size(), 1u);
}

TEST_F(MidiPorts, ShortMessagesReachOnMidiDataWithTheirPortIndex) {
  auto& in = midi.InputPorts();
  Received got;
  got.Install(in);
  in.Open(0);
  in.Open(1);
  ASSERT_TRUE(fake->Inject(in1, {0x90, 0x3C, 0x64}));
  ASSERT_TRUE(fake->Inject(in0, {0xC0, 0x05}));  // missing bytes are 0
  ASSERT_TRUE(fake->Inject(in1, {0xF8}));
  ASSERT_TRUE(fake->Inject(in1, {0x3C}));  // a data byte outside any message: dropped
  EXPECT_EQ(got.shorts, (std::vector<Received::Short>{{1, 144, 60, 100}, {0, 192, 5, 0}, {1, 248, 0, 0}}));
  EXPECT_TRUE(got.sysex.empty());
}

TEST_F(MidiPorts, SysExIsDeliveredOnceWithExactlyItsBytesWhateverThePieces) {
  const Bytes reply = {0xF0, 0x7E, 0x00, 0x06, 0x02, 0x1A, 0x34, 0x01, 0x05, 0xF7};
  auto& in = midi.InputPorts();
  for (std::size_t chunk : {0u, 1u, 2u, 3u, 9u}) {
    Received got;
    got.Install(in);
    in.Open(1);
    ASSERT_TRUE(fake->Inject(in1, reply, chunk));
    ASSERT_EQ(got.sysex.size(), 1u) << "chunk " << chunk;
    EXPECT_EQ(got.sysex[0].first, 1);
    EXPECT_EQ(got.sysex[0].second, reply) << "chunk " << chunk;
    EXPECT_TRUE(got.shorts.empty());
    EXPECT_EQ(in.SysExBuffer(1).Stream.Size(), 0u);  // emptied after delivery
    in.Close(1);
  }
}

TEST_F(MidiPorts, SysExInterleavedWithOtherMessages) {
  auto& in = midi.InputPorts();
  Received got;
  got.Install(in);
  in.Open(0);
  fake->Inject(in0, {0xF0, 0x01, 0x02});
  fake->Inject(in0, {0xF8});  // a real-time byte inside a SysEx is its own message
  fake->Inject(in0, {0x03, 0xF7});
  fake->Inject(in0, {0xF0, 0x11});
  fake->Inject(in0, {0x90, 0x3C, 0x64});  // ends the unfinished SysEx, which is dropped
  fake->Inject(in0, {0x12, 0xF7});        // a stray end: nothing
  fake->Inject(in0, {0xF0, 0x21, 0xF7, 0xF0, 0x22, 0xF7});  // two messages in one piece
  fake->Inject(in0, {0xF0, 0x31});
  fake->Inject(in0, {0xF0, 0x41, 0xF7});  // a new F0 starts afresh
  EXPECT_EQ(got.shorts, (std::vector<Received::Short>{{0, 0xF8, 0, 0}, {0, 0x90, 0x3C, 0x64}}));
  EXPECT_EQ(got.sysex, (std::vector<std::pair<int32_t, Bytes>>{{0, {0xF0, 0x01, 0x02, 0x03, 0xF7}},
                                                              {0, {0xF0, 0x21, 0xF7}},
                                                              {0, {0xF0, 0x22, 0xF7}},
                                                              {0, {0xF0, 0x41, 0xF7}}}));
}

TEST_F(MidiPorts, AnOverlongSysExIsCutAtTheLimitAndTheNextMessageArrives) {
  auto& in = midi.InputPorts();
  Received got;
  got.Install(in);
  in.Open(0);

  // A megabyte in 1000-byte pieces: the buffer holds only the first bytes,
  // and at the F7 the message is delivered cut to them.
  Bytes head = {0xF0, 0x01, 0x02, 0x03};
  fake->Inject(in0, head);
  const Bytes piece(1000, 0x55);
  for (int i = 0; i < 1000; ++i) {
    fake->Inject(in0, piece);
    ASSERT_LE(in.SysExBuffer(0).Stream.Size(), vlx::MaxSysExSize);
    ASSERT_LE(in.SysExBuffer(0).Stream.Bytes.capacity(), 2 * vlx::MaxSysExSize);
  }
  fake->Inject(in0, {0xF7});
  ASSERT_EQ(got.sysex.size(), 1u);
  head.resize(vlx::MaxSysExSize, 0x55);
  EXPECT_EQ(got.sysex[0].second, head);
  EXPECT_EQ(in.SysExBuffer(0).Stream.Size(), 0u);

  // At the limit a message goes through whole; one byte more and it is cut
  // to the limit, without its F7, however it is divided into pieces.
  Bytes largest(vlx::MaxSysExSize, 0x22);
  largest.front() = 0xF0;
  largest.back() = 0xF7;
  Bytes tooLarge = largest;
  tooLarge.insert(tooLarge.begin() + 1, 0x33);
  const Bytes cut(tooLarge.begin(), tooLarge.begin() + vlx::MaxSysExSize);
  const Bytes next = {0xF0, 0x34, 0x01, 0x00, 0x09, 0xF7};
  for (std::size_t chunk : {std::size_t(0), std::size_t(1000), std::size_t(4096)}) {
    got.sysex.clear();
    fake->Inject(in0, largest, chunk);
    fake->Inject(in0, tooLarge, chunk);
    fake->Inject(in0, next);
    ASSERT_EQ(got.sysex.size(), 3u) << "pieces of " << chunk;
    EXPECT_EQ(got.sysex[0].second, largest);
    EXPECT_EQ(got.sysex[1].second, cut);
    EXPECT_EQ(got.sysex[2].second, next);
  }
}

// Bytes lost by the service (its input overran) damage the message being
// collected: what came of it is delivered at once without an F7, as a cut
// message is, and its rest up to the F7 is skipped; the next messages
// arrive as usual, and a loss between messages changes nothing.
TEST_F(MidiPorts, ASysExDamagedByLostBytesIsDeliveredCutOnce) {
  auto& in = midi.InputPorts();
  Received got;
  got.Install(in);
  in.Open(0);
  fake->Inject(in0, {});  // between messages
  fake->Inject(in0, {0xF0, 0x01, 0x02});
  fake->Inject(in0, {});
  ASSERT_EQ(got.sysex.size(), 1u);
  EXPECT_EQ(got.sysex[0].second, (Bytes{0xF0, 0x01, 0x02}));
  fake->Inject(in0, {});  // a second loss in the same message: nothing more
  fake->Inject(in0, {0x05, 0x06});
  fake->Inject(in0, {0x07, 0xF7, 0x90, 0x3C, 0x64});
  fake->Inject(in0, {0xF0, 0x11, 0xF7});
  // Damaged, then ended by a status byte: delivered once, at the loss.
  fake->Inject(in0, {0xF0, 0x21});
  fake->Inject(in0, {});
  fake->Inject(in0, {0x22});
  fake->Inject(in0, {0xB0, 0x07, 0x7F});
  EXPECT_EQ(got.sysex, (std::vector<std::pair<int32_t, Bytes>>{
                           {0, {0xF0, 0x01, 0x02}}, {0, {0xF0, 0x11, 0xF7}}, {0, {0xF0, 0x21}}}));
  EXPECT_EQ(got.shorts, (std::vector<Received::Short>{{0, 0x90, 0x3C, 0x64}, {0, 0xB0, 0x07, 0x7F}}));
  EXPECT_EQ(in.SysExBuffer(0).Stream.Size(), 0u);
}

TEST_F(MidiPorts, AHandlerThatThrowsDoesNotStopDelivery) {
  auto& in = midi.InputPorts();
  int calls = 0;
  in.OnSysExData = [&](int32_t, TByteStream&) {
    ++calls;
    throw std::runtime_error("handler failed");
  };
  in.Open(0);
  fake->Inject(in0, {0xF0, 0x01, 0xF7});
  fake->Inject(in0, {0xF0, 0x02, 0xF7});
  EXPECT_EQ(calls, 2);
}

TEST_F(MidiPorts, DeliveryOnTheServicesThread) {
  auto& in = midi.InputPorts();
  std::atomic<int> count{0};
  std::thread::id where;
  in.OnSysExData = [&](int32_t, TByteStream& stream) {
    where = std::this_thread::get_id();
    if (stream.Size() == 4) ++count;
  };
  in.Open(1);
  for (int i = 0; i < 50; ++i) fake->InjectAsync(in1, {0xF0, 0x01, static_cast<uint8_t>(i), 0xF7}, 2);
  fake->WaitIdle();
  EXPECT_EQ(count, 50);
  EXPECT_NE(where, std::this_thread::get_id());
}

TEST_F(MidiPorts, ReleaseClosesOpenPortsAndNoCallbackFollows) {
  std::atomic<bool> released{false};
  std::atomic<int> late{0}, delivered{0};
  {
    auto& in = midi.InputPorts();
    in.OnSysExData = [&](int32_t, TByteStream&) {
      if (released) ++late;
      ++delivered;
      std::this_thread::yield();
    };
    in.OnMidiData = [&](int32_t, uint8_t, uint8_t, uint8_t) {
      if (released) ++late;
    };
    in.Open(0);
    in.Open(1);
    midi.OutputPorts().Open(1);
  }
  // Keep the service's thread busy delivering into both ports while the lists go.
  for (int i = 0; i < 2000; ++i) {
    fake->InjectAsync(i % 2 ? in0 : in1, {0xF0, 0x01, 0x02, 0x03, 0x04, 0xF7}, 2);
    fake->InjectAsync(in0, {0x90, 0x3C, 0x64});
  }
  while (delivered == 0) std::this_thread::yield();
  midi.Release();
  released = true;
  EXPECT_EQ(fake->OpenInputCount(), 0);
  EXPECT_EQ(fake->OpenOutputCount(), 0);
  EXPECT_EQ(fake->CallbacksRunning(), 0);
  fake->WaitIdle();
  EXPECT_FALSE(fake->Inject(in0, {0xF0, 0x01, 0xF7}));
  EXPECT_EQ(late, 0);
  // The lists come back on next use, with every port closed.
  EXPECT_FALSE(midi.InputPorts().IsOpen(0));
}

}  // namespace

// The editor's service is made by its first use, not when the program
// starts; a service that cannot be made now is tried again by the next use.
TEST(DeferredMidiService, IsMadeByItsFirstUseAndTriedAgainAfterAFailure) {
  auto fake = std::make_shared<FakeMidiService>();
  fake->AddInput("vellox");
  int makes = 0;
  bool fail = true;
  vlx::TDeferredMidiService service([&]() -> std::shared_ptr<vlx::IMidiService> {
    ++makes;
    if (fail) throw EMidiError("No JACK server is running.");
    return fake;
  });
  EXPECT_EQ(makes, 0);
  EXPECT_FALSE(service.Made());
  EXPECT_THROW(service.Inputs(), EMidiError);
  EXPECT_FALSE(service.Made());
  fail = false;
  ASSERT_EQ(service.Inputs().size(), 1u);
  EXPECT_EQ(service.Inputs()[0].Name, "vellox");
  EXPECT_TRUE(service.AnyInputLeft());
  EXPECT_TRUE(service.Outputs().empty());
  EXPECT_EQ(makes, 2);
  EXPECT_TRUE(service.Made());
}

#include "VirtualControllerService.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace vlx {
namespace {

using namespace std::chrono_literals;

MidiMessage Hex(const std::string& text) { return ParseHexBytes(text); }

const MidiMessage kIdentityReply = Hex("F0 7E 00 06 02 1A 34 01 05 F7");
const MidiMessage kAck = Hex("F0 34 01 00 09 F7");

// Collects what an input port delivers, and on which threads.
struct Collector {
  std::mutex mutex;
  std::condition_variable cv;
  std::vector<MidiMessage> messages;
  std::set<std::thread::id> threads;

  MidiBytesCallback Callback() {
    return [this](const uint8_t* data, std::size_t size) {
      std::lock_guard lock(mutex);
      messages.emplace_back(data, data + size);
      threads.insert(std::this_thread::get_id());
      cv.notify_all();
    };
  }
  // Waits (bounded) for n messages and returns what has come.
  std::vector<MidiMessage> WaitFor(std::size_t n) {
    std::unique_lock lock(mutex);
    cv.wait_for(lock, 10s, [&] { return messages.size() >= n; });
    return messages;
  }
  std::vector<MidiMessage> Snapshot() {
    std::lock_guard lock(mutex);
    return messages;
  }
};

void Send(IMidiOutPort& out, const std::string& hex) {
  const MidiMessage m = Hex(hex);
  out.Send(m.data(), m.size());
}

// A callback that blocks on its first message until released.
struct Blocker {
  std::promise<void> entered;
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::atomic<int> calls{0};
  std::atomic<bool> ended{false};

  MidiBytesCallback Callback() {
    return [this](const uint8_t*, std::size_t) {
      if (calls.fetch_add(1) == 0) {
        entered.set_value();
        released.wait();
        ended = true;
      }
    };
  }
};

TEST(VirtualControllerService, ListsTheControllersPorts) {
  VirtualControllerService service;
  const auto ins = service.Inputs();
  const auto outs = service.Outputs();
  ASSERT_EQ(ins.size(), 1u);
  ASSERT_EQ(outs.size(), 1u);
  EXPECT_EQ(ins[0].Name, "vellox");
  EXPECT_EQ(outs[0].Name, "vellox");
  EXPECT_NE(ins[0].Key, outs[0].Key);
  EXPECT_TRUE(service.AnyInputLeft());
}

TEST(VirtualControllerService, RepliesArriveInOrderOnTheServicesThread) {
  VirtualControllerService service;
  Collector got;
  auto in = service.OpenInput(service.Inputs().at(0), got.Callback());
  auto out = service.OpenOutput(service.Outputs().at(0));

  Send(*out, "F0 7E 00 06 01 F7 00 00 00");
  service.PlayShort(0x90, 0x3C, 0x64);
  Send(*out,
       "F0 34 00 27 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 11 12 13 14 15 16 17 18 19 1A 1B 1C 1D 1E "
       "1F 20 21 22 23 24 25 26 27 F7 00 00 00");
  Send(*out, "F0 34 00 00 08 F7 00 00 00");
  service.PlayShort(0xC0, 0x05);

  const auto messages = got.WaitFor(5);
  const auto& body = service.Controller().Profile();
  EXPECT_EQ(messages, (std::vector<MidiMessage>{kIdentityReply, Hex("90 3C 64"), kAck,
                                                VirtualController::DumpMessage(body), Hex("C0 05")}));
  EXPECT_EQ(body[0], 0x01);
  EXPECT_EQ(body[38], 0x27);
  std::lock_guard lock(got.mutex);
  ASSERT_EQ(got.threads.size(), 1u);
  EXPECT_NE(*got.threads.begin(), std::this_thread::get_id());
}

TEST(VirtualControllerService, PlaysRawBytesInChunks) {
  VirtualControllerService service;
  Collector got;
  auto in = service.OpenInput(service.ControllerInput(), got.Callback());
  MidiMessage bytes(10);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(0xF0 + i % 2);
  service.PlayRaw(bytes, 4);
  service.PlayRaw(MidiMessage(100000, 0xFF));
  const auto messages = got.WaitFor(4);
  ASSERT_EQ(messages.size(), 4u);
  EXPECT_EQ(messages[0], MidiMessage(bytes.begin(), bytes.begin() + 4));
  EXPECT_EQ(messages[1], MidiMessage(bytes.begin() + 4, bytes.begin() + 8));
  EXPECT_EQ(messages[2], MidiMessage(bytes.begin() + 8, bytes.end()));
  EXPECT_EQ(messages[3], MidiMessage(100000, 0xFF));
}

TEST(VirtualControllerService, UnplugRemovesThePortsAndStopsDelivery) {
  VirtualControllerService service;
  service.AddInput("Other MIDI");
  Collector got;
  auto in = service.OpenInput(service.ControllerInput(), got.Callback());
  auto out = service.OpenOutput(service.ControllerOutput());
  Send(*out, "F0 7E 00 06 01 F7");
  ASSERT_EQ(got.WaitFor(1).size(), 1u);

  service.Unplug();
  EXPECT_FALSE(service.Plugged());
  EXPECT_EQ(service.Inputs().size(), 1u);  // only the other client's port
  EXPECT_TRUE(service.Outputs().empty());
  EXPECT_TRUE(service.AnyInputLeft());
  EXPECT_THROW(Send(*out, "F0 7E 00 06 01 F7"), EMidiError);
  EXPECT_THROW(service.OpenInput(service.ControllerInput(), got.Callback()), EMidiError);
  EXPECT_THROW(service.OpenOutput(service.ControllerOutput()), EMidiError);
  service.PlayShort(0x90, 0x3C, 0x64);
  service.WaitIdle();
  EXPECT_EQ(got.Snapshot().size(), 1u);

  VirtualControllerService alone;
  alone.Unplug();
  EXPECT_TRUE(alone.Inputs().empty());
  EXPECT_FALSE(alone.AnyInputLeft());
}

TEST(VirtualControllerService, PlugBringsTheControllerBackUnderNewPorts) {
  VirtualControllerService service;
  service.AddInput("Other MIDI");
  const MidiPortId oldIn = service.ControllerInput();
  Collector old;
  auto oldHandle = service.OpenInput(oldIn, old.Callback());
  auto oldOut = service.OpenOutput(service.ControllerOutput());
  EXPECT_EQ(service.OpenPortCount(), 2);
  service.Unplug();
  EXPECT_EQ(service.OpenPortCount(), 1) << "the input handle was closed by the unplugging";
  service.Plug(0);
  service.Plug(0);  // already plugged: nothing changes
  EXPECT_TRUE(service.Plugged());

  const MidiPortId in = service.ControllerInput();
  EXPECT_NE(in.Key, oldIn.Key);
  ASSERT_EQ(service.Inputs().size(), 2u);
  EXPECT_EQ(service.Inputs()[0].Key, in.Key) << "inserted where asked";
  EXPECT_EQ(service.Outputs().at(0).Key, service.ControllerOutput().Key);
  EXPECT_EQ(service.Outputs().size(), 1u);
  EXPECT_THROW(Send(*oldOut, "F0 7E 00 06 01 F7"), EMidiError) << "the old port stays dead";

  Collector got;
  auto handle = service.OpenInput(in, got.Callback());
  auto out = service.OpenOutput(service.ControllerOutput());
  EXPECT_EQ(service.OpenPortCount(), 3);
  Send(*out, "F0 7E 00 06 01 F7");
  EXPECT_EQ(got.WaitFor(1), std::vector<MidiMessage>{kIdentityReply});
  EXPECT_TRUE(old.Snapshot().empty());

  oldHandle.reset();
  oldOut.reset();
  handle.reset();
  out.reset();
  EXPECT_EQ(service.OpenPortCount(), 0);
}

TEST(VirtualControllerService, UnplugWaitsForARunningCallbackAndDropsTheRest) {
  VirtualControllerService service;
  Blocker blocker;
  auto in = service.OpenInput(service.ControllerInput(), blocker.Callback());
  for (int i = 0; i < 3; ++i) service.PlayShort(0x90, 0x3C, 0x64);
  blocker.entered.get_future().wait();

  // When Unplug returns, the running callback must have ended.
  auto unplugged = std::async(std::launch::async, [&] {
    service.Unplug();
    return blocker.ended.load();
  });
  unplugged.wait_for(50ms);  // time for an Unplug that does not wait to return
  blocker.release.set_value();
  EXPECT_TRUE(unplugged.get());
  service.WaitIdle();
  EXPECT_EQ(blocker.calls.load(), 1);
}

TEST(VirtualControllerService, ClosingAnInputWaitsForItsCallback) {
  VirtualControllerService service;
  Blocker blocker;
  auto in = service.OpenInput(service.ControllerInput(), blocker.Callback());
  Collector other;
  auto in2 = service.OpenInput(service.ControllerInput(), other.Callback());
  for (int i = 0; i < 3; ++i) service.PlayShort(0x90, 0x3C, 0x64);
  blocker.entered.get_future().wait();

  auto closed = std::async(std::launch::async, [&] {
    in.reset();
    return blocker.ended.load();
  });
  closed.wait_for(50ms);  // time for a destructor that does not wait to return
  blocker.release.set_value();
  EXPECT_TRUE(closed.get());
  // The second handle on the same port still gets everything.
  EXPECT_EQ(other.WaitFor(3).size(), 3u);
  EXPECT_EQ(blocker.calls.load(), 1);
}

TEST(VirtualControllerService, AHandleMayCloseItselfFromItsCallback) {
  VirtualControllerService service;
  std::unique_ptr<IMidiInPort> in;
  std::promise<void> done;
  std::atomic<int> calls{0};
  in = service.OpenInput(service.ControllerInput(), [&](const uint8_t*, std::size_t) {
    if (calls.fetch_add(1) == 0) {
      in.reset();
      done.set_value();
    }
  });
  service.PlayShort(0x90, 0x3C, 0x64);
  service.PlayShort(0x90, 0x3C, 0x64);
  ASSERT_EQ(done.get_future().wait_for(10s), std::future_status::ready);
  service.WaitIdle();
  EXPECT_EQ(calls.load(), 1);
}

TEST(VirtualControllerService, ExtraPortsOfOtherClients) {
  VirtualControllerService service;
  const MidiPortId usbIn = service.AddInput("USB MIDI", 0);
  const MidiPortId usbOut = service.AddOutput("USB MIDI");
  const auto ins = service.Inputs();
  ASSERT_EQ(ins.size(), 2u);
  EXPECT_EQ(ins[0].Name, "USB MIDI");
  EXPECT_EQ(ins[1].Name, "vellox");
  ASSERT_EQ(service.Outputs().size(), 2u);
  EXPECT_EQ(service.Outputs()[1].Name, "USB MIDI");

  Collector ctl, usb;
  auto in1 = service.OpenInput(service.ControllerInput(), ctl.Callback());
  auto in2 = service.OpenInput(usbIn, usb.Callback());
  auto out = service.OpenOutput(usbOut);
  Send(*out, "F0 7E 00 06 01 F7");  // goes to the other client, not to the controller
  service.PlayOn(usbIn, Hex("B0 07 7F"));
  EXPECT_EQ(usb.WaitFor(1), std::vector<MidiMessage>{Hex("B0 07 7F")});
  service.WaitIdle();
  EXPECT_TRUE(ctl.Snapshot().empty());
  EXPECT_TRUE(service.Controller().Received().empty());
  EXPECT_EQ(service.SentTo(usbOut), std::vector<MidiMessage>{Hex("F0 7E 00 06 01 F7")});
  EXPECT_THROW(service.OpenInput(MidiPortId{"nothing", "no:such:port"}, ctl.Callback()), EMidiError);
  EXPECT_THROW(service.PlayOn(MidiPortId{"nothing", "no:such:port"}, Hex("90 3C 64")), EMidiError);
}

TEST(VirtualControllerService, HandlesOutliveTheService) {
  std::unique_ptr<IMidiInPort> in;
  std::unique_ptr<IMidiOutPort> out;
  Collector got;
  {
    VirtualControllerService service;
    in = service.OpenInput(service.ControllerInput(), got.Callback());
    out = service.OpenOutput(service.ControllerOutput());
  }
  EXPECT_THROW(Send(*out, "F0 7E 00 06 01 F7"), EMidiError);
  in.reset();
  out.reset();
  EXPECT_TRUE(got.Snapshot().empty());
}

}  // namespace
}  // namespace vlx

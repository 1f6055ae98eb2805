// The virtual controller on a JACK server, with a JACK peer as the editor.
#include "JackVirtualController.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace vlx {
namespace {

using namespace std::chrono_literals;

MidiMessage Hex(const std::string& text) { return ParseHexBytes(text); }

// JACK shows a new connection or a port's removal from the next cycle on:
// wait for it, bounded.
template <typename F>
bool WaitUntil(F done) {
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

JackPeer::Options EditorSide() {
  JackPeer::Options o;
  o.ClientName = "vcedit";
  return o;
}

class JackController : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(sim.Peer().ClientName(), "vellox");
    editor.ConnectTo("vellox");
    editor.ConnectFrom("vellox");
    ASSERT_TRUE(WaitUntil([&] { return editor.OutConnections() == 1 && editor.InConnections() == 1; }));
  }

  // Sends bytes from the editor's side and waits (bounded) for one event back.
  MidiMessage Ask(const std::string& hex) {
    editor.ClearReceived();
    EXPECT_TRUE(editor.Send(Hex(hex)));
    if (!editor.WaitForEvents(1, 5s)) return {};
    return editor.TakeReceived().front();
  }

  JackVirtualController sim;
  JackPeer editor{EditorSide()};
};

TEST_F(JackController, AnswersTheEditorsRequests) {
  EXPECT_EQ(Ask("F0 7E 00 06 01 F7 00 00 00"), Hex("F0 7E 00 06 02 1A 34 01 05 F7"));
  const std::string body =
      "10 11 12 13 14 15 16 17 18 19 1A 1B 1C 1D 1E 1F 20 21 22 23 24 25 26 27 28 29 2A 2B 2C 2D 2E 2F "
      "30 31 32 33 34 35 36";
  EXPECT_EQ(Ask("F0 34 00 27 " + body + " F7 00 00 00"), Hex("F0 34 01 00 09 F7"));
  EXPECT_EQ(Ask("F0 34 00 00 08 F7 00 00 00"), Hex("F0 34 01 27 " + body + " F7"));

  editor.ClearReceived();
  ASSERT_TRUE(sim.Play(Hex("90 3C 64")));
  ASSERT_TRUE(editor.WaitForEvents(1, 5s));
  EXPECT_EQ(editor.TakeReceived().front(), Hex("90 3C 64"));
  EXPECT_EQ(sim.Controller().Received().size(), 3u);
  EXPECT_EQ(sim.LostReplies(), 0u);
}

TEST_F(JackController, UnplugTakesThePortsAwayAndPlugBringsThemBack) {
  sim.Unplug();
  EXPECT_TRUE(WaitUntil([&] {
    return editor.FindPorts("vellox", true).empty() && editor.FindPorts("vellox", false).empty() &&
           editor.OutConnections() == 0 && editor.InConnections() == 0;
  }));
  EXPECT_FALSE(sim.Play(Hex("90 3C 64")));

  // Plugged in again: the same port names, new ports, answering once
  // connected anew.
  ASSERT_TRUE(sim.Plug());
  EXPECT_TRUE(sim.Plug()) << "already plugged in";
  EXPECT_EQ(editor.FindPorts("vellox", true), std::vector<std::string>{"vellox:out"});
  EXPECT_EQ(editor.FindPorts("vellox", false), std::vector<std::string>{"vellox:in"});
  editor.ConnectTo("vellox");
  editor.ConnectFrom("vellox");
  ASSERT_TRUE(WaitUntil([&] { return editor.OutConnections() == 1 && editor.InConnections() == 1; }));
  EXPECT_EQ(Ask("F0 7E 00 06 01 F7 00 00 00"), Hex("F0 7E 00 06 02 1A 34 01 05 F7"));
}

}  // namespace
}  // namespace vlx

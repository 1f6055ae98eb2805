// The parts of the RtMidi service that need no MIDI server.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>

#include "midi/RtMidiService.h"

namespace {

using vlx::MidiApi;
using Bytes = std::vector<uint8_t>;

std::size_t Wire(MidiApi api, const Bytes& bytes) { return vlx::WireLength(api, bytes.data(), bytes.size()); }

TEST(WireLength, AlsaGetsTheSysExUpToItsF7AndJackEveryByte) {
  const Bytes identity = {0xF0, 0x7E, 0x00, 0x06, 0x01, 0xF7, 0x00, 0x00, 0x00};
  EXPECT_EQ(Wire(MidiApi::Alsa, identity), 6u);
  EXPECT_EQ(Wire(MidiApi::Jack, identity), 9u);

  const Bytes unfinished = {0xF0, 0x7E, 0x00};
  EXPECT_EQ(Wire(MidiApi::Alsa, unfinished), 3u);
  const Bytes noteOn = {0x90, 0x3C, 0x64};
  EXPECT_EQ(Wire(MidiApi::Alsa, noteOn), 3u);
  EXPECT_EQ(Wire(MidiApi::Alsa, {}), 0u);
}

TEST(PortNames, ClientIsTheNameBeforeTheFirstColon) {
  EXPECT_EQ(vlx::ClientNameOfPort("vellox:out"), "vellox");
  EXPECT_EQ(vlx::ClientNameOfPort("vellox:vellox MIDI 1 24:0"), "vellox");  // ALSA
  EXPECT_EQ(vlx::ClientNameOfPort("USB2.0-MIDI:USB2.0-MIDI MIDI 1 28:0"), "USB2.0-MIDI");
  EXPECT_EQ(vlx::ClientNameOfPort("no colon"), "no colon");
}

TEST(PortNames, OwnClientsAreTheNameAndItsNumberedCopies) {
  struct Case {
    const char* client;
    bool own;
  };
  for (const Case& c : {Case{"VLX210", true}, Case{"VLX210-01", true}, Case{"VLX210-12", true},
                        Case{"VLX210-", false}, Case{"VLX210-a", false}, Case{"VLX2100", false},
                        Case{"VLX21", false}, Case{"vlx210", false}, Case{"vellox", false}})
    EXPECT_EQ(vlx::IsOwnClient(c.client, "VLX210"), c.own) << c.client;
}

// Everything written to stderr (the file descriptor, where libjack and
// RtMidi write) while it lives.
class StderrCapture {
 public:
  StderrCapture() {
    std::fflush(stderr);
    std::FILE* file = std::tmpfile();
    fd_ = dup(fileno(file));
    std::fclose(file);
    saved_ = dup(2);
    dup2(fd_, 2);
  }
  ~StderrCapture() { Restore(); }
  std::string Text() {
    Restore();
    std::string text;
    char buffer[4096];
    ssize_t n;
    lseek(fd_, 0, SEEK_SET);
    while ((n = read(fd_, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<std::size_t>(n));
    return text;
  }

 private:
  void Restore() {
    if (saved_ < 0) return;
    std::fflush(stderr);
    dup2(saved_, 2);
    close(saved_);
    saved_ = -1;
  }
  int fd_ = -1;
  int saved_ = -1;
};

TEST(RtMidiService, WithoutSequencerOrServerOneLineAndEmptyLists) {
  // No ALSA sequencer here, and no JACK server of this name.
  setenv("JACK_DEFAULT_SERVER", "vlx-no-such-server", 1);
  StderrCapture err;
  auto service = vlx::CreateRtMidiService(vlx::MidiApiChoice::Auto);
  if (static_cast<vlx::RtMidiService&>(*service).Api() == MidiApi::Alsa) GTEST_SKIP() << "an ALSA sequencer is present";
  for (int i = 0; i < 3; ++i) {
    EXPECT_TRUE(service->Inputs().empty());
    EXPECT_TRUE(service->Outputs().empty());
    EXPECT_FALSE(service->AnyInputLeft());
    EXPECT_FALSE(service->Reachable()) << "no MIDI service, not only no ports";
  }
  // Opening a port of a server that is not there fails with a text, quietly.
  EXPECT_THROW(service->OpenOutput({"vellox", "vellox:in"}), vlx::EMidiError);
  EXPECT_THROW(service->OpenInput({"vellox", "vellox:out"}, [](const uint8_t*, std::size_t) {}), vlx::EMidiError);
  // A failed try to reach a server is not repeated at once: the start-up
  // check and the listings after it made one.
  EXPECT_EQ(static_cast<vlx::RtMidiService&>(*service).ListingClientOpens(), 1);
  // JACK alone, as the tests choose it, says nothing at all.
  auto jack = vlx::CreateRtMidiService(vlx::MidiApiChoice::Jack);
  EXPECT_TRUE(jack->Inputs().empty());
  EXPECT_TRUE(jack->Outputs().empty());
  EXPECT_FALSE(jack->Reachable());
  EXPECT_EQ(static_cast<vlx::RtMidiService&>(*jack).ListingClientOpens(), 1);
  EXPECT_EQ(err.Text(), vlx::NoMidiServiceLine("VLX210") + "\n");
}

}  // namespace

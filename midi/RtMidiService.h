// The MIDI service of the editor on Linux, through RtMidi: the ALSA
// sequencer, or a running JACK server when the sequencer cannot be opened.
//
// A port's name is the name of the MIDI client that owns it (the part of
// RtMidi's port name before the first ':'; on ALSA a USB device's client is
// named after the product). The editor's own clients ("VLX210", and
// "VLX210-01" and so on, the names JACK gives further clients of the same
// name) and, on ALSA, the kernel's "Midi Through" client are left out. The
// port's key is RtMidi's full port name, by which Open finds it again.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "midi/ClientNames.h"
#include "midi/MidiService.h"

namespace vlx {

enum class MidiApiChoice {
  Auto,  // the ALSA sequencer when it opens, JACK otherwise
  Alsa,  // the ALSA sequencer only; CreateRtMidiService throws when it cannot be opened
  Jack,  // JACK only; without a running server the lists are empty
};

// The backend a service talks to.
enum class MidiApi { Alsa, Jack };

// How many of a message's bytes to hand to RtMidi. ALSA turns the bytes into
// sequencer events and gives up (sending nothing) at bytes that form no MIDI
// event, such as the 00 bytes that follow F7 in every message the editor
// sends: a SysEx message goes up to and including its F7. JACK carries raw
// bytes: everything goes.
std::size_t WireLength(MidiApi api, const uint8_t* data, std::size_t size);

// The client part of an RtMidi port name: everything before the first ':'.
std::string ClientNameOfPort(const std::string& portName);

// The line a service made with MidiApiChoice::Auto writes to stderr, once,
// when neither the ALSA sequencer nor a JACK server can be reached; it
// begins with the service's client name ("VLX210" for the editor).
std::string NoMidiServiceLine(const std::string& clientName);
// "the ALSA sequencer cannot be opened (REASON): load the snd-seq kernel
// module ... (be in the audio group)".
std::string AlsaUnreachableText(const std::string& reason);

// Enumeration and the presence probe share one long-lived client (on ALSA
// one per direction), opened on first use; each open port has a client of
// its own. Nothing of RtMidi's or libjack's is written to stderr.
class RtMidiService : public IMidiService {
 public:
  // While no JACK server answers, how often the listings try to reach one.
  static constexpr std::chrono::seconds JackRetryInterval{5};

  // Throws EMidiError when the chosen API cannot be used (for ALSA, with
  // AlsaUnreachableText). sayNoService: with Auto, NoMidiServiceLine goes
  // to stderr when neither service answers.
  RtMidiService(MidiApiChoice api, const std::string& clientName, bool sayNoService = true);
  ~RtMidiService() override;

  MidiApi Api() const;
  const std::string& ClientName() const;

  std::vector<MidiPortId> Inputs() override;
  std::vector<MidiPortId> Outputs() override;
  std::unique_ptr<IMidiInPort> OpenInput(const MidiPortId& port, MidiBytesCallback callback) override;
  std::unique_ptr<IMidiOutPort> OpenOutput(const MidiPortId& port) override;
  // On JACK: whether the listing client reached the server; the ALSA
  // sequencer, once opened, is always there.
  bool Reachable() override;

  // Whether inputs opened from now on pass active sensing (FE) on; by
  // default it stays out (the window never shows it).
  void SetActiveSensing(bool pass);
  // Empty while the service can be reached; otherwise a sentence for the
  // user naming what is missing ("no JACK server is running ...").
  std::string Unreachable();

  // How often the JACK listing client was opened or tried: once while the
  // server stays up; without a server once per JackRetryInterval at most.
  int ListingClientOpens() const;

 private:
  void NeedJackServer();  // throws EMidiError on JACK without a server
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

std::shared_ptr<IMidiService> CreateRtMidiService(MidiApiChoice api = MidiApiChoice::Auto,
                                                  const std::string& clientName = "VLX210");

}  // namespace vlx

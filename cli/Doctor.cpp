#include "cli/Doctor.h"

#include "cli/Exit.h"

#include <jack/jack.h>

#include <cstdio>
#include <mutex>

#include "midi/RtMidiService.h"
#include "session/Doctor.h"

namespace vlx::cli {

namespace {

void Quiet(const char*) {}

// Whether a JACK server answers, without starting one and without libjack's
// messages on the terminal.
bool JackServerRunning() {
  static std::once_flag once;
  std::call_once(once, [] {
    jack_set_error_function(&Quiet);
    jack_set_info_function(&Quiet);
  });
  jack_status_t status{};
  jack_client_t* client = jack_client_open("vellox-cli", JackNoStartServer, &status);
  if (client == nullptr) return false;
  jack_client_close(client);
  return true;
}

// The MIDI service as vellox-cli's other commands reach it: the ALSA
// sequencer where it can be used (and is wanted), else a running JACK server.
TDoctorService Connect(const std::string& api, bool sequencerUsable) {
  if (api != "jack" && (sequencerUsable || api == "alsa")) {
    try {
      return {std::make_shared<RtMidiService>(MidiApiChoice::Alsa, "vellox-cli"), "the ALSA sequencer"};
    } catch (const EMidiError& e) {
      if (api == "alsa") throw EMidiError(std::string("the ALSA sequencer cannot be opened: ") + e.what());
    }
  }
  if (!JackServerRunning()) {
    if (api == "jack") throw EMidiError("no JACK server is running");
    throw EMidiError("none: the ALSA sequencer cannot be opened and no JACK server is running");
  }
  return {std::make_shared<RtMidiService>(MidiApiChoice::Jack, "vellox-cli"), "a JACK server"};
}

}  // namespace

int Doctor(const DoctorArgs& args) {
  TDoctorOptions o;
  o.CheckSequencer = args.Api != "jack";
  o.User = CurrentUser();
  o.Connect = [api = args.Api](bool sequencerUsable) { return Connect(api, sequencerUsable); };
  o.UsbCheck = !args.NoUsbCheck;
  o.PortName = args.Port;
  o.Timeout = std::chrono::milliseconds(args.TimeoutMs);
  // Port and device names come from the system: shown with control
  // characters escaped, as every line vellox-cli prints; output that is lost
  // is an error.
  const auto lines = RunDoctor(o, [](const TDoctorLine& line) { WriteOut(TerminalSafe(FormatDoctorLine(line)) + "\n"); });
  return DoctorExitCode(lines);
}

}  // namespace vlx::cli

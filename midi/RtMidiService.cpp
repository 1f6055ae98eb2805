#include "midi/RtMidiService.h"

#include <alsa/asoundlib.h>
#include <jack/jack.h>
#include <jack/midiport.h>
#include <poll.h>
#include <rtmidi/RtMidi.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>
#include <type_traits>

namespace vlx {

std::size_t WireLength(MidiApi api, const uint8_t* data, std::size_t size) {
  if (api == MidiApi::Jack || data == nullptr || size == 0 || data[0] != 0xF0) return size;
  const auto* end = static_cast<const uint8_t*>(std::memchr(data, 0xF7, size));
  return end ? static_cast<std::size_t>(end - data) + 1 : size;
}

std::string ClientNameOfPort(const std::string& portName) { return portName.substr(0, portName.find(':')); }

namespace {

RtMidi::Api ToRtMidi(MidiApi api) { return api == MidiApi::Alsa ? RtMidi::LINUX_ALSA : RtMidi::UNIX_JACK; }

// What RtMidi reports through its error callback. Without a callback RtMidi
// writes every error and warning to stderr; with one it writes nothing, and
// the call that failed is told by the report it left here.
// Warnings count as failures where they mean that the call did nothing (a
// message that could not be sent); a listing goes on past them (a port that
// left between the count and its name).
struct RtReport {
  bool WarningsFail = true;
  bool Failed = false;
  std::string Text;

  static void Take(RtMidiError::Type type, const std::string& text, void* self) {
    auto& report = *static_cast<RtReport*>(self);
    if (type == RtMidiError::DEBUG_WARNING) return;
    if (type == RtMidiError::WARNING && !report.WarningsFail) return;
    if (report.Failed) return;  // the first failure is the one to tell
    report.Failed = true;
    report.Text = text;
  }
};

// Runs an RtMidi call; its errors, thrown or reported, leave as EMidiError
// with RtMidi's text.
template <typename F>
auto Rt(RtReport* report, F&& f) -> decltype(f()) {
  if (report) {
    report->Failed = false;
    report->Text.clear();
  }
  try {
    if constexpr (std::is_void_v<decltype(f())>) {
      f();
      if (report && report->Failed) throw EMidiError(report->Text);
    } else {
      auto result = f();
      if (report && report->Failed) throw EMidiError(report->Text);
      return result;
    }
  } catch (const RtMidiError& e) {
    throw EMidiError(e.getMessage());
  }
}

// The index under which RtMidi lists the port named key now.
unsigned int FindPort(RtMidi& rt, const std::string& key, const char* kind) {
  const unsigned int count = rt.getPortCount();
  for (unsigned int i = 0; i < count; ++i)
    if (rt.getPortName(i) == key) return i;
  throw EMidiError(std::string("The MIDI ") + kind + " port \"" + key + "\" is no longer available.");
}

class RtInPort : public IMidiInPort {
 public:
  RtInPort(MidiApi api, const std::string& clientName, const std::string& key, MidiBytesCallback callback,
           bool activeSensing)
      : callback_(std::move(callback)) {
    in_ = Rt(nullptr, [&] { return std::make_unique<RtMidiIn>(ToRtMidi(api), clientName); });
    in_->setErrorCallback(&RtReport::Take, &report_);
    Rt(&report_, [&] {
      // SysEx and timing messages in; active sensing only where it is
      // shown (the window never shows it).
      in_->ignoreTypes(false, false, !activeSensing);
      in_->setCallback(&RtInPort::OnMessage, this);
      in_->openPort(FindPort(*in_, key, "input"), "in");
    });
  }
  // Destroying RtMidiIn closes the port and ends its input thread (ALSA) or
  // its JACK client: no callback runs after this.
  ~RtInPort() override = default;

 private:
  static void OnMessage(double, std::vector<unsigned char>* message, void* self) {
    if (message != nullptr && !message->empty())
      static_cast<RtInPort*>(self)->callback_(message->data(), message->size());
  }

  MidiBytesCallback callback_;
  RtReport report_;
  std::unique_ptr<RtMidiIn> in_;  // destroyed before callback_ and report_
};

// An input on the ALSA sequencer, a client of the editor's own beside
// RtMidi's (which still lists the ports and sends). RtMidi's ALSA input keeps
// the kernel's default input pool, which a long SysEx handed over in pieces
// overruns; it then writes the overrun to stderr itself and passes on what
// is left as if it were whole. This input asks for the largest pool the
// kernel gives, says nothing, and tells the port layer that bytes were lost
// (a call with no bytes), so that the message cut by the loss is shown as
// such. Its client and port have the names RtMidi would give them.
class AlsaInPort : public IMidiInPort {
 public:
  static constexpr int InputPool = 2000;  // the kernel's largest per client

  AlsaInPort(const std::string& clientName, const std::string& key, MidiBytesCallback callback, bool activeSensing)
      : callback_(std::move(callback)), activeSensing_(activeSensing) {
    int rc = snd_seq_open(&seq_, "default", SND_SEQ_OPEN_INPUT, SND_SEQ_NONBLOCK);
    if (rc < 0) throw EMidiError(std::string("The ALSA sequencer cannot be opened: ") + snd_strerror(rc));
    try {
      snd_seq_set_client_name(seq_, clientName.c_str());
      snd_seq_set_client_pool_input(seq_, InputPool);  // a smaller pool where refused
      snd_seq_set_input_buffer_size(seq_, 1024);  // events read at once
      const snd_seq_addr_t source = Find(key);
      port_ = snd_seq_create_simple_port(seq_, "in", SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE,
                                         SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
      if (port_ < 0) throw EMidiError(std::string("The MIDI input port cannot be made: ") + snd_strerror(port_));
      rc = snd_seq_connect_from(seq_, port_, source.client, source.port);
      if (rc < 0)
        throw EMidiError("The MIDI input port \"" + key + "\" cannot be connected: " + snd_strerror(rc));
      rc = snd_midi_event_new(16, &decoder_);
      if (rc < 0) throw EMidiError(std::string("The MIDI input cannot be made: ") + snd_strerror(rc));
      snd_midi_event_no_status(decoder_, 1);  // every message with its status byte
    } catch (...) {
      if (decoder_) snd_midi_event_free(decoder_);
      snd_seq_close(seq_);
      throw;
    }
    thread_ = std::thread([this] { Run(); });
  }
  // Once the thread has ended no callback runs; closing the client removes
  // its port and the connection.
  ~AlsaInPort() override {
    stop_ = true;
    thread_.join();
    snd_midi_event_free(decoder_);
    snd_seq_close(seq_);
  }

 private:
  // The port RtMidi lists under this name: "client:port C:P".
  snd_seq_addr_t Find(const std::string& key) {
    const std::string gone = "The MIDI input port \"" + key + "\" is no longer available.";
    const std::size_t space = key.rfind(' ');
    int client = -1, port = -1;
    if (space == std::string::npos || std::sscanf(key.c_str() + space + 1, "%d:%d", &client, &port) != 2 ||
        client < 0 || client > 255 || port < 0 || port > 255)
      throw EMidiError(gone);
    snd_seq_client_info_t* cinfo = nullptr;
    snd_seq_port_info_t* pinfo = nullptr;
    snd_seq_client_info_alloca(&cinfo);
    snd_seq_port_info_alloca(&pinfo);
    if (snd_seq_get_any_client_info(seq_, client, cinfo) < 0 || snd_seq_get_any_port_info(seq_, client, port, pinfo) < 0)
      throw EMidiError(gone);
    const std::string name = std::string(snd_seq_client_info_get_name(cinfo)) + ":" + snd_seq_port_info_get_name(pinfo) +
                             " " + std::to_string(client) + ":" + std::to_string(port);
    if (name != key) throw EMidiError(gone);  // another client has the number now
    return snd_seq_addr_t{static_cast<unsigned char>(client), static_cast<unsigned char>(port)};
  }

  void Run() {
    std::vector<pollfd> fds(static_cast<std::size_t>(snd_seq_poll_descriptors_count(seq_, POLLIN)));
    fds.resize(static_cast<std::size_t>(
        snd_seq_poll_descriptors(seq_, fds.data(), static_cast<unsigned int>(fds.size()), POLLIN)));
    while (!stop_) {
      ::poll(fds.data(), static_cast<nfds_t>(fds.size()), 50);  // bounded: the stop flag is seen
      for (;;) {
        snd_seq_event_t* ev = nullptr;
        const int rc = snd_seq_event_input(seq_, &ev);
        if (rc == -ENOSPC) {
          // The kernel's input queue overran and was emptied.
          callback_(nullptr, 0);
          lost_ = true;
          continue;
        }
        if (rc < 0 || ev == nullptr) break;  // -EAGAIN: nothing more for now
        Deliver(*ev);
      }
    }
  }

  void Deliver(const snd_seq_event_t& ev) {
    if (ev.type == SND_SEQ_EVENT_SYSEX) {
      const auto* p = static_cast<const uint8_t*>(ev.data.ext.ptr);
      const std::size_t n = ev.data.ext.len;
      if (n == 0) return;
      if (lost_ && !inSysEx_ && p[0] != 0xF0) {
        // The rest of a message whose start was lost: it is told as a
        // damaged message (its F0 alone) rather than not at all.
        static const uint8_t start = 0xF0;
        callback_(&start, 1);
        callback_(nullptr, 0);
      }
      lost_ = false;
      if (p[0] == 0xF0) inSysEx_ = true;
      if (std::memchr(p, 0xF7, n)) inSysEx_ = false;
      callback_(p, n);
      return;
    }
    // A channel or system common message ends a SysEx message; a real-time
    // one may come inside it.
    if (ev.type < SND_SEQ_EVENT_START || ev.type == SND_SEQ_EVENT_TUNE_REQUEST) inSysEx_ = lost_ = false;
    // Active sensing stays out unless it is shown (the window never shows
    // it); the sequencer's own notices (a port connected) make no bytes.
    if (ev.type == SND_SEQ_EVENT_SENSING && !activeSensing_) return;
    uint8_t bytes[16];
    const long n = snd_midi_event_decode(decoder_, bytes, sizeof bytes, &ev);
    if (n > 0) callback_(bytes, static_cast<std::size_t>(n));
  }

  MidiBytesCallback callback_;
  const bool activeSensing_;
  snd_seq_t* seq_ = nullptr;
  snd_midi_event_t* decoder_ = nullptr;
  int port_ = -1;
  // The input thread's own: a SysEx message is being passed on (its F0
  // came, its F7 not yet); bytes were lost since the last event.
  bool inSysEx_ = false;
  bool lost_ = false;
  std::atomic<bool> stop_{false};
  std::thread thread_;  // last: it starts once everything else exists
};

class RtOutPort : public IMidiOutPort {
 public:
  RtOutPort(MidiApi api, const std::string& clientName, const std::string& key) : api_(api) {
    out_ = Rt(nullptr, [&] { return std::make_unique<RtMidiOut>(ToRtMidi(api), clientName); });
    out_->setErrorCallback(&RtReport::Take, &report_);
    Rt(&report_, [&] { out_->openPort(FindPort(*out_, key, "output"), "out"); });
  }

  void Send(const uint8_t* data, std::size_t size) override {
    // RtMidi copies the bytes before sendMessage returns. Sends come from
    // one thread at a time (the window's), so one report does.
    Rt(&report_, [&] { out_->sendMessage(data, WireLength(api_, data, size)); });
  }

 private:
  MidiApi api_;
  RtReport report_;
  std::unique_ptr<RtMidiOut> out_;
};

// libjack writes its errors and notices to stderr unless told otherwise.
// The editor's attempts to reach a server that is not there are no news.
void QuietJackMessage(const char*) {}

void SilenceJack() {
  static std::once_flag once;
  std::call_once(once, [] {
    jack_set_error_function(&QuietJackMessage);
    jack_set_info_function(&QuietJackMessage);
  });
}

// libasound writes its errors to stderr ("ALSA lib seq_hw.c:...") unless
// given a handler; the failure itself is reported by the call that failed.
void QuietAlsaMessage(const char*, int, const char*, int, const char*, ...) {}

void SilenceAlsa() {
  static std::once_flag once;
  std::call_once(once, [] { snd_lib_error_set_handler(&QuietAlsaMessage); });
}

// Opens and closes a sequencer client: empty when that works, else the
// reason. RtMidi, asked to open a sequencer that cannot be opened, writes
// its own lines to stderr before any error callback could be set.
std::string AlsaSequencerProblem() {
  snd_seq_t* seq = nullptr;
  const int rc = snd_seq_open(&seq, "default", SND_SEQ_OPEN_DUPLEX, 0);
  if (rc < 0) return snd_strerror(rc);
  snd_seq_close(seq);
  return {};
}

}  // namespace

std::string AlsaUnreachableText(const std::string& reason) {
  return "the ALSA sequencer cannot be opened (" + reason +
         "): load the snd-seq kernel module (sudo modprobe snd-seq) and make sure you may use /dev/snd/seq "
         "(be in the audio group)";
}

std::string NoMidiServiceLine(const std::string& clientName) {
  return clientName +
         ": no MIDI service: the ALSA sequencer (/dev/snd/seq) cannot be opened and no JACK server is running; "
         "load the snd-seq kernel module or start a JACK server.";
}

// One client serves every listing and the presence probe: on ALSA one RtMidi
// client per direction (RtMidi lists only one direction per object), on JACK
// one plain JACK client without ports for both directions. Each is opened on
// first use and kept. The JACK client is opened again after the server went
// away; while no server answers, a listing tries again, quietly, once the
// last try is JackRetryInterval old (a failed try costs milliseconds, and
// the window lists once or twice a second while it waits).
struct RtMidiService::Impl {
  MidiApi api = MidiApi::Jack;
  MidiApiChoice choice = MidiApiChoice::Auto;
  std::atomic<bool> activeSensing{false};
  std::string clientName;
  std::mutex mutex;  // guards the listing clients
  RtReport report = ListingReport();  // of the two ALSA listers; under mutex
  std::unique_ptr<RtMidiIn> inputLister;
  std::unique_ptr<RtMidiOut> outputLister;
  jack_client_t* jack = nullptr;
  std::atomic<bool> jackGone{false};  // the server shut the client down
  std::atomic<int> jackOpens{0};
  std::optional<std::chrono::steady_clock::time_point> jackFailedAt;
  jack_status_t jackStatus{};  // of the last try; under mutex

  ~Impl() {
    if (jack) jack_client_close(jack);
  }

  static RtReport ListingReport() {
    RtReport r;
    r.WarningsFail = false;
    return r;
  }

  static void JackShutdown(void* self) { static_cast<Impl*>(self)->jackGone = true; }

  // The JACK listing client, or nullptr while no server answers. Under mutex.
  jack_client_t* Jack() {
    if (jack && jackGone) {
      jack_client_close(jack);
      jack = nullptr;
    }
    if (jack) return jack;
    const auto now = std::chrono::steady_clock::now();
    if (jackFailedAt && now - *jackFailedAt < JackRetryInterval) return nullptr;
    jackGone = false;
    ++jackOpens;
    jack = jack_client_open(clientName.c_str(), JackNoStartServer, &jackStatus);
    if (jack) {
      jack_on_shutdown(jack, &Impl::JackShutdown, this);
      jackFailedAt.reset();
    } else {
      jackFailedAt = now;
    }
    return jack;
  }

  void Add(std::vector<MidiPortId>& ports, std::string name) {
    if (name.empty()) return;  // gone since it was counted
    std::string client = ClientNameOfPort(name);
    if (IsOwnClient(client, clientName)) return;
    if (api == MidiApi::Alsa && client == "Midi Through") return;
    ports.push_back(MidiPortId{std::move(client), std::move(name)});
  }

  std::vector<MidiPortId> List(RtMidi& rt) {
    std::vector<MidiPortId> ports;
    const unsigned int count = rt.getPortCount();
    for (unsigned int i = 0; i < count; ++i) Add(ports, rt.getPortName(i));
    return ports;
  }

  // JACK's MIDI ports in the order the server keeps them, which is the order
  // RtMidi numbers them in: its inputs read from the ports that are outputs
  // of other clients, and its outputs write to their inputs.
  std::vector<MidiPortId> ListJack(unsigned long flags) {
    std::vector<MidiPortId> ports;
    jack_client_t* client = Jack();
    if (!client) return ports;
    const char** names = jack_get_ports(client, nullptr, JACK_DEFAULT_MIDI_TYPE, flags);
    if (!names) return ports;
    for (const char** n = names; *n; ++n) Add(ports, *n);
    jack_free(names);
    return ports;
  }

  template <class Lister>
  std::vector<MidiPortId> ListAlsa(std::unique_ptr<Lister>& lister) {
    return Rt(&report, [&] {
      if (!lister) {
        lister = std::make_unique<Lister>(RtMidi::LINUX_ALSA, clientName);
        lister->setErrorCallback(&RtReport::Take, &report);
      }
      return List(*lister);
    });
  }
};

RtMidiService::RtMidiService(MidiApiChoice choice, const std::string& clientName, bool sayNoService)
    : impl_(std::make_unique<Impl>()) {
  SilenceJack();
  SilenceAlsa();
  impl_->clientName = clientName;
  impl_->choice = choice;
  auto tryAlsa = [&] {
    impl_->api = MidiApi::Alsa;
    if (const std::string problem = AlsaSequencerProblem(); !problem.empty())
      throw EMidiError(AlsaUnreachableText(problem));
    std::lock_guard lock(impl_->mutex);
    impl_->ListAlsa(impl_->inputLister);
  };
  switch (choice) {
    case MidiApiChoice::Alsa:
      tryAlsa();
      break;
    case MidiApiChoice::Auto:
      // Without the sequencer device ALSA cannot work; do not let it try.
      if (access("/dev/snd/seq", R_OK | W_OK) == 0) {
        try {
          tryAlsa();
          break;
        } catch (const EMidiError&) {
          impl_->inputLister.reset();
        }
      }
      impl_->api = MidiApi::Jack;
      {
        std::lock_guard lock(impl_->mutex);
        if (impl_->Jack() == nullptr && sayNoService) {
          // Said once, at start-up; the listings go on trying quietly.
          std::fprintf(stderr, "%s\n", NoMidiServiceLine(clientName).c_str());
          std::fflush(stderr);
        }
      }
      break;
    case MidiApiChoice::Jack:
      impl_->api = MidiApi::Jack;
      break;
  }
}

RtMidiService::~RtMidiService() = default;

MidiApi RtMidiService::Api() const { return impl_->api; }
const std::string& RtMidiService::ClientName() const { return impl_->clientName; }
int RtMidiService::ListingClientOpens() const { return impl_->jackOpens; }

std::vector<MidiPortId> RtMidiService::Inputs() {
  std::lock_guard lock(impl_->mutex);
  if (impl_->api == MidiApi::Jack) return impl_->ListJack(JackPortIsOutput);
  return impl_->ListAlsa(impl_->inputLister);
}

std::vector<MidiPortId> RtMidiService::Outputs() {
  std::lock_guard lock(impl_->mutex);
  if (impl_->api == MidiApi::Jack) return impl_->ListJack(JackPortIsInput);
  return impl_->ListAlsa(impl_->outputLister);
}

void RtMidiService::SetActiveSensing(bool pass) { impl_->activeSensing = pass; }

namespace {

std::string NoJackText(MidiApiChoice choice, jack_status_t status) {
  if (!(status & JackServerFailed)) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%x", static_cast<unsigned>(status));
    return std::string("the JACK server does not take a new client (status ") + buf + ")";
  }
  if (choice == MidiApiChoice::Jack) return "no JACK server is running (start one, for example jackd -d alsa)";
  return "no MIDI service: the ALSA sequencer (/dev/snd/seq) cannot be opened and no JACK server is running; "
         "load the snd-seq kernel module (sudo modprobe snd-seq, and be in the audio group) or start a JACK server";
}

}  // namespace

std::string RtMidiService::Unreachable() {
  if (impl_->api != MidiApi::Jack) return {};  // the sequencer was opened
  std::lock_guard lock(impl_->mutex);
  // A server that is there but slow to take a new client (a loaded
  // machine) gets four more tries within about a second; where no server
  // listens at all (JackServerFailed) the answer comes at once.
  for (int attempt = 1; impl_->Jack() == nullptr; ++attempt) {
    if ((impl_->jackStatus & JackServerFailed) || attempt == 5) return NoJackText(impl_->choice, impl_->jackStatus);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    impl_->jackFailedAt.reset();
  }
  return {};
}

void RtMidiService::NeedJackServer() {
  if (impl_->api != MidiApi::Jack) return;
  std::lock_guard lock(impl_->mutex);
  // RtMidi would write its own warning to stderr before any error callback
  // could be set.
  if (impl_->Jack() == nullptr) throw EMidiError("No JACK server is running.");
}

std::unique_ptr<IMidiInPort> RtMidiService::OpenInput(const MidiPortId& port, MidiBytesCallback callback) {
  if (impl_->api == MidiApi::Alsa)
    return std::make_unique<AlsaInPort>(impl_->clientName, port.Key, std::move(callback), impl_->activeSensing.load());
  NeedJackServer();
  return std::make_unique<RtInPort>(impl_->api, impl_->clientName, port.Key, std::move(callback),
                                    impl_->activeSensing.load());
}

std::unique_ptr<IMidiOutPort> RtMidiService::OpenOutput(const MidiPortId& port) {
  NeedJackServer();
  return std::make_unique<RtOutPort>(impl_->api, impl_->clientName, port.Key);
}

bool RtMidiService::Reachable() {
  std::lock_guard lock(impl_->mutex);
  return impl_->api != MidiApi::Jack || (impl_->jack != nullptr && !impl_->jackGone);
}

std::shared_ptr<IMidiService> CreateRtMidiService(MidiApiChoice api, const std::string& clientName) {
  return std::make_shared<RtMidiService>(api, clientName);
}

}  // namespace vlx

#include "midi/RtMidiService.h"

#include <rtmidi/RtMidi.h>
#include <unistd.h>

#include <cstring>
#include <mutex>

namespace vlx {

std::size_t WireLength(MidiApi api, const uint8_t* data, std::size_t size) {
  if (api == MidiApi::Jack || data == nullptr || size == 0 || data[0] != 0xF0) return size;
  const auto* end = static_cast<const uint8_t*>(std::memchr(data, 0xF7, size));
  return end ? static_cast<std::size_t>(end - data) + 1 : size;
}

std::string ClientNameOfPort(const std::string& portName) { return portName.substr(0, portName.find(':')); }

bool IsOwnClient(const std::string& client, const std::string& ownClientName) {
  if (client.compare(0, ownClientName.size(), ownClientName) != 0) return false;
  if (client.size() == ownClientName.size()) return true;
  if (client[ownClientName.size()] != '-' || client.size() == ownClientName.size() + 1) return false;
  for (std::size_t i = ownClientName.size() + 1; i < client.size(); ++i)
    if (client[i] < '0' || client[i] > '9') return false;
  return true;
}

namespace {

RtMidi::Api ToRtMidi(MidiApi api) { return api == MidiApi::Alsa ? RtMidi::LINUX_ALSA : RtMidi::UNIX_JACK; }

// Runs an RtMidi call; its errors leave as EMidiError with RtMidi's text.
template <typename F>
auto Rt(F&& f) -> decltype(f()) {
  try {
    return f();
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
  RtInPort(MidiApi api, const std::string& clientName, const std::string& key, MidiBytesCallback callback)
      : callback_(std::move(callback)) {
    Rt([&] {
      in_ = std::make_unique<RtMidiIn>(ToRtMidi(api), clientName);
      // SysEx and timing messages in; active sensing, which nobody shows,
      // stays out.
      in_->ignoreTypes(false, false, true);
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
  std::unique_ptr<RtMidiIn> in_;  // destroyed before callback_
};

class RtOutPort : public IMidiOutPort {
 public:
  RtOutPort(MidiApi api, const std::string& clientName, const std::string& key) : api_(api) {
    Rt([&] {
      out_ = std::make_unique<RtMidiOut>(ToRtMidi(api), clientName);
      out_->openPort(FindPort(*out_, key, "output"), "out");
    });
  }

  void Send(const uint8_t* data, std::size_t size) override {
    // RtMidi copies the bytes before sendMessage returns.
    Rt([&] { out_->sendMessage(data, WireLength(api_, data, size)); });
  }

 private:
  MidiApi api_;
  std::unique_ptr<RtMidiOut> out_;
};

}  // namespace

struct RtMidiService::Impl {
  MidiApi api = MidiApi::Jack;
  std::string clientName;
  std::mutex mutex;  // guards the two listing clients
  std::unique_ptr<RtMidiIn> inputLister;
  std::unique_ptr<RtMidiOut> outputLister;

  std::vector<MidiPortId> List(RtMidi& rt) {
    std::vector<MidiPortId> ports;
    const unsigned int count = rt.getPortCount();
    for (unsigned int i = 0; i < count; ++i) {
      std::string name = rt.getPortName(i);
      if (name.empty()) continue;  // gone since it was counted
      std::string client = ClientNameOfPort(name);
      if (IsOwnClient(client, clientName)) continue;
      if (api == MidiApi::Alsa && client == "Midi Through") continue;
      ports.push_back(MidiPortId{std::move(client), std::move(name)});
    }
    return ports;
  }
};

RtMidiService::RtMidiService(MidiApiChoice choice, const std::string& clientName) : impl_(std::make_unique<Impl>()) {
  impl_->clientName = clientName;
  auto tryAlsa = [&] {
    impl_->inputLister = Rt([&] { return std::make_unique<RtMidiIn>(RtMidi::LINUX_ALSA, clientName); });
    impl_->api = MidiApi::Alsa;
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
        }
      }
      [[fallthrough]];
    case MidiApiChoice::Jack:
      impl_->api = MidiApi::Jack;
      break;
  }
}

RtMidiService::~RtMidiService() = default;

MidiApi RtMidiService::Api() const { return impl_->api; }
const std::string& RtMidiService::ClientName() const { return impl_->clientName; }

std::vector<MidiPortId> RtMidiService::Inputs() {
  std::lock_guard lock(impl_->mutex);
  return Rt([&] {
    if (!impl_->inputLister) impl_->inputLister = std::make_unique<RtMidiIn>(ToRtMidi(impl_->api), impl_->clientName);
    return impl_->List(*impl_->inputLister);
  });
}

std::vector<MidiPortId> RtMidiService::Outputs() {
  std::lock_guard lock(impl_->mutex);
  return Rt([&] {
    if (!impl_->outputLister)
      impl_->outputLister = std::make_unique<RtMidiOut>(ToRtMidi(impl_->api), impl_->clientName);
    return impl_->List(*impl_->outputLister);
  });
}

std::unique_ptr<IMidiInPort> RtMidiService::OpenInput(const MidiPortId& port, MidiBytesCallback callback) {
  return std::make_unique<RtInPort>(impl_->api, impl_->clientName, port.Key, std::move(callback));
}

std::unique_ptr<IMidiOutPort> RtMidiService::OpenOutput(const MidiPortId& port) {
  return std::make_unique<RtOutPort>(impl_->api, impl_->clientName, port.Key);
}

std::shared_ptr<IMidiService> CreateRtMidiService(MidiApiChoice api, const std::string& clientName) {
  return std::make_shared<RtMidiService>(api, clientName);
}

}  // namespace vlx

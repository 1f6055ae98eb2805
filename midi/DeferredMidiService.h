// A MIDI service that is made when it is first used. The editor builds its
// window before it reaches the machine's MIDI service (ALSA's sequencer or a
// JACK server): the service is made by the first listing, just after the
// window's first paint, not when the program starts.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <utility>

#include "midi/MidiService.h"

namespace vlx {

class TDeferredMidiService : public IMidiService {
 public:
  using Factory = std::function<std::shared_ptr<IMidiService>()>;
  explicit TDeferredMidiService(Factory make) : make_(std::move(make)) {}

  std::vector<MidiPortId> Inputs() override { return Get().Inputs(); }
  std::vector<MidiPortId> Outputs() override { return Get().Outputs(); }
  std::unique_ptr<IMidiInPort> OpenInput(const MidiPortId& port, MidiBytesCallback callback) override {
    return Get().OpenInput(port, std::move(callback));
  }
  std::unique_ptr<IMidiOutPort> OpenOutput(const MidiPortId& port) override { return Get().OpenOutput(port); }
  bool AnyInputLeft() override { return Get().AnyInputLeft(); }
  bool Reachable() override { return Get().Reachable(); }

  bool Made() const {
    std::lock_guard lock(mutex_);
    return service_ != nullptr;
  }

 private:
  // A factory that throws makes nothing; the next use tries again.
  IMidiService& Get() {
    std::lock_guard lock(mutex_);
    if (!service_) service_ = make_();
    return *service_;
  }

  Factory make_;
  mutable std::mutex mutex_;
  std::shared_ptr<IMidiService> service_;
};

}  // namespace vlx

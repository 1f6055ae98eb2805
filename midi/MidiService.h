// What a MIDI backend offers the port layer. The port layer (Midi.h) is
// written against this interface only; RtMidiService.h is the real backend,
// FakeMidiService.h an in-process one for tests and the demo.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace vlx {

// An error of the MIDI service, carrying the service's own text.
class EMidiError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One port as the service enumerates it.
struct MidiPortId {
  std::string Name;  // what the port lists show: the owning client's name
  std::string Key;   // the backend's full name of the port, to find it again
};

// Called on the service's thread with the bytes of one incoming message (a
// short message, or a SysEx message or part of one). Called with no bytes
// (nullptr, 0) when the service lost incoming bytes at that point (its input
// overran).
using MidiBytesCallback = std::function<void(const uint8_t* data, std::size_t size)>;

// An open input port. Destroying it closes the port; once the destructor has
// returned, its callback is never called again.
class IMidiInPort {
 public:
  virtual ~IMidiInPort() = default;
};

// An open output port. Destroying it closes the port.
class IMidiOutPort {
 public:
  virtual ~IMidiOutPort() = default;
  // Hands one message to the service. Throws EMidiError on failure.
  virtual void Send(const uint8_t* data, std::size_t size) = 0;
};

class IMidiService {
 public:
  virtual ~IMidiService() = default;
  // The ports of other clients, in the service's order. The editor's own
  // ports are left out. Throw EMidiError when the service fails.
  virtual std::vector<MidiPortId> Inputs() = 0;
  virtual std::vector<MidiPortId> Outputs() = 0;
  // Open a port found by Inputs() / Outputs(). Throw EMidiError (with the
  // service's text) when the port cannot be opened or has gone.
  virtual std::unique_ptr<IMidiInPort> OpenInput(const MidiPortId& port, MidiBytesCallback callback) = 0;
  virtual std::unique_ptr<IMidiOutPort> OpenOutput(const MidiPortId& port) = 0;
  // Whether any input port of another client exists now (the presence probe).
  virtual bool AnyInputLeft() { return !Inputs().empty(); }
  // Whether the service itself answered its last listing: false when there
  // is no MIDI service at all (no JACK server), not only no ports.
  virtual bool Reachable() { return true; }
};

}  // namespace vlx

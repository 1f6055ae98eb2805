// An in-process MIDI service for tests and demos: ports are declared by the
// test, bytes are injected into open input ports, and whatever the layer sends
// is recorded per output port. Nothing leaves the process.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "midi/MidiService.h"

namespace vlx {

class FakeMidiService : public IMidiService {
 public:
  using Bytes = std::vector<uint8_t>;

  FakeMidiService() = default;
  // Stops the delivery thread. Every port opened from this service must have
  // been closed before (TMidiModule holds the service, so it is).
  ~FakeMidiService() override;
  FakeMidiService(const FakeMidiService&) = delete;
  FakeMidiService& operator=(const FakeMidiService&) = delete;

  // ---- the ports. A port is found by its key, which must be unique; the
  // name is what the port lists show and may repeat. An empty key is made
  // from the name and a serial number ("vellox#1"). Return the key.
  std::string AddInput(const std::string& name, std::string key = {});
  std::string AddOutput(const std::string& name, std::string key = {});
  // The port leaves the lists (and AnyInputLeft). A port still open stays
  // open, but receives nothing more; sending to a removed output fails.
  void RemoveInput(const std::string& key);
  void RemoveOutput(const std::string& key);
  // Opening that port (input or output) throws EMidiError(text); an empty
  // text makes it open normally again.
  void FailOpen(const std::string& key, const std::string& text);
  // Sending to that output throws EMidiError(text) and records nothing.
  void FailSend(const std::string& key, const std::string& text);
  // Inputs() and Outputs() throw EMidiError(text); empty text: they work.
  void FailEnumeration(const std::string& text);
  // false: the service cannot be reached, as RtMidi without a JACK server:
  // Inputs() and Outputs() list nothing and Reachable() is false.
  void SetReachable(bool reachable);

  // ---- input. Bytes go to the callback of every open port with that key,
  // in pieces of `chunk` bytes (0: all in one call), the way a service may
  // hand over a long SysEx message piece by piece. No bytes: the service
  // tells that bytes were lost at that point (a call with no bytes).
  // Synchronous, on the caller's thread. Returns false when no open port has
  // that key (the bytes are lost, as on a closed port).
  bool Inject(const std::string& key, const Bytes& bytes, std::size_t chunk = 0);
  // On the service's own delivery thread, in the order of the calls.
  void InjectAsync(const std::string& key, const Bytes& bytes, std::size_t chunk = 0);
  // Returns once every InjectAsync so far has been delivered or dropped.
  void WaitIdle();

  // ---- output: every message sent to the port, in order, as sent.
  std::vector<Bytes> Sent(const std::string& key) const;
  void ClearSent();
  // Called on the sending thread after a message has been recorded.
  std::function<void(const std::string& key, const Bytes& bytes)> OnSend;

  int OpenInputCount() const;
  int OpenOutputCount() const;
  bool IsInputOpen(const std::string& key) const;
  bool IsOutputOpen(const std::string& key) const;
  // Number of callbacks running right now (0 after a port's Close returned).
  int CallbacksRunning() const { return running_; }

  // ---- IMidiService
  std::vector<MidiPortId> Inputs() override;
  std::vector<MidiPortId> Outputs() override;
  std::unique_ptr<IMidiInPort> OpenInput(const MidiPortId& port, MidiBytesCallback callback) override;
  std::unique_ptr<IMidiOutPort> OpenOutput(const MidiPortId& port) override;
  bool Reachable() override;

 private:
  class InPort;
  class OutPort;
  struct Port {
    std::string Name;
    std::string Key;
    std::string OpenError;
    std::string SendError;
    bool Removed = false;
  };
  struct Job {
    std::string Key;
    Bytes Data;
    std::size_t Chunk;
  };

  std::string AddPort(std::vector<Port>& list, const std::string& name, std::string key);
  Port* FindPort(std::vector<Port>& list, const std::string& key);
  std::vector<MidiPortId> List(const std::vector<Port>& list);
  bool Deliver(const std::string& key, const Bytes& bytes, std::size_t chunk);
  void Worker();

  mutable std::mutex mutex_;
  std::vector<Port> inputs_, outputs_;
  std::string enumerationError_;
  bool reachable_ = true;
  int serial_ = 0;
  std::vector<InPort*> openInputs_;
  std::vector<OutPort*> openOutputs_;
  std::map<std::string, std::vector<Bytes>> sent_;

  // Held while a callback runs; a port's destructor takes it, so once it has
  // returned no callback of that port runs or will run. Recursive so that a
  // callback may inject synchronously.
  std::recursive_mutex deliver_;
  std::atomic<int> running_{0};

  std::mutex jobsMutex_;
  std::condition_variable jobsChanged_;
  std::deque<Job> jobs_;
  bool busy_ = false;
  bool stop_ = false;
  std::thread worker_;
};

}  // namespace vlx

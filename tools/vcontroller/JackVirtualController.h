// The virtual controller on JACK: a JACK client (by default "vellox") with a
// MIDI input port "in" and a MIDI output port "out". What reaches the input
// goes into the VirtualController; its replies leave on the output.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <string>
#include <thread>

#include "VirtualController.h"
#include "tools/jackpeer/JackPeer.h"

namespace vlx {

struct JackVirtualControllerOptions {
  std::string ClientName = "vellox";
  std::string ServerName;  // empty: JACK_DEFAULT_SERVER or JACK's default
};

class JackVirtualController {
 public:
  using Options = JackVirtualControllerOptions;

  // Opens the client and starts answering. Throws std::runtime_error when
  // no JACK server answers.
  explicit JackVirtualController(std::shared_ptr<VirtualController> controller = nullptr, Options options = {});
  ~JackVirtualController();  // stops answering, closes the client
  JackVirtualController(const JackVirtualController&) = delete;
  JackVirtualController& operator=(const JackVirtualController&) = delete;

  VirtualController& Controller() { return *controller_; }
  // The JACK side: names of the client and ports, connections.
  JackPeer& Peer() { return peer_; }

  // Sends bytes as they are, as one JACK MIDI event (short messages, or any
  // raw bytes for hostile-input tests). False when they cannot go out.
  bool Play(const MidiMessage& bytes);

  // The controller is unplugged: its ports leave the JACK graph; the client
  // stays, answering nothing.
  void Unplug();
  // Plugged in again: the ports come back (new JACK ports, same names).
  // False when they cannot be made.
  bool Plug();

  // Replies that could not be handed to JACK (no port, buffer full).
  std::size_t LostReplies() const { return lostReplies_; }

 private:
  void Run();

  std::shared_ptr<VirtualController> controller_;
  JackPeer peer_;
  std::atomic<bool> stop_{false};
  std::atomic<std::size_t> lostReplies_{0};
  std::thread thread_;
};

}  // namespace vlx

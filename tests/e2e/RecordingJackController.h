// The controller on the JACK server, for the end-to-end tests: a JACK client
// "vellox" with the MIDI ports "in" and "out" that answers like the
// controller (VirtualController) and keeps every event that reached its input
// exactly as it came off the wire, trailing bytes after F7 included.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "VirtualController.h"
#include "tools/jackpeer/JackPeer.h"

class RecordingJackController {
 public:
  using Bytes = vlx::JackPeer::Bytes;

  RecordingJackController() : peer_(vlx::JackPeer::Options{}), thread_([this] { Run(); }) {}
  ~RecordingJackController() {
    stop_ = true;
    thread_.join();
    peer_.Close();
  }
  RecordingJackController(const RecordingJackController&) = delete;
  RecordingJackController& operator=(const RecordingJackController&) = delete;

  vlx::VirtualController& Controller() { return controller_; }
  vlx::JackPeer& Peer() { return peer_; }

  // Every event received so far, oldest first, as JACK delivered it.
  std::vector<Bytes> Raw() {
    std::lock_guard lock(mutex_);
    return raw_;
  }
  void ClearRaw() {
    std::lock_guard lock(mutex_);
    raw_.clear();
  }

  // The controller sends these bytes as one event.
  bool Play(const Bytes& bytes) { return peer_.Send(bytes); }
  // The controller is unplugged: both its ports leave the JACK graph.
  void Unplug() { peer_.RemovePorts(); }

  // Replies that could not be handed to JACK.
  std::size_t LostReplies() const { return lost_; }

 private:
  void Run() {
    using namespace std::chrono_literals;
    while (!stop_) {
      if (!peer_.WaitForEvents(1, 10ms)) continue;
      for (const Bytes& event : peer_.TakeReceived()) {
        {
          std::lock_guard lock(mutex_);
          raw_.push_back(event);
        }
        for (const vlx::MidiMessage& reply : controller_.Receive(event))
          if (!peer_.Send(reply)) ++lost_;
      }
    }
  }

  vlx::VirtualController controller_;
  vlx::JackPeer peer_;
  std::mutex mutex_;
  std::vector<Bytes> raw_;  // guarded by mutex_
  std::atomic<bool> stop_{false};
  std::atomic<std::size_t> lost_{0};
  std::thread thread_;  // last: it starts once everything else exists
};

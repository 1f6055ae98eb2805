// The virtual controller on the ALSA sequencer: a client named as the USB
// device names itself ("vellox") with one duplex port named as its port
// ("vellox MIDI 1"). What reaches the port goes into the VirtualController;
// its replies leave through the same port to every subscriber.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "VirtualController.h"

typedef struct _snd_seq snd_seq_t;

namespace vlx {

struct AlsaVirtualControllerOptions {
  std::string ClientName = "vellox";
  std::string PortName = "vellox MIDI 1";
  // A SysEx message leaves in events of at most this many bytes, as the
  // kernel hands over a USB device's SysEx; 0: each message in one event.
  std::size_t SysExPiece = 0;
  // Keep the newest this many received events for Raw() (0: none).
  std::size_t RawLogSize = 0;
};

class AlsaVirtualController {
 public:
  using Options = AlsaVirtualControllerOptions;
  using Bytes = std::vector<uint8_t>;

  // Opens the client and starts answering. Throws std::runtime_error when
  // the sequencer cannot be opened.
  explicit AlsaVirtualController(std::shared_ptr<VirtualController> controller = nullptr, Options options = {});
  ~AlsaVirtualController();  // stops answering, closes the client
  AlsaVirtualController(const AlsaVirtualController&) = delete;
  AlsaVirtualController& operator=(const AlsaVirtualController&) = delete;

  VirtualController& Controller() { return *controller_; }
  const Options& Settings() const { return options_; }

  // From now on SysEx leaves in events of at most this many bytes (0: each
  // message in one event).
  void SetSysExPiece(std::size_t bytes) { sysExPiece_ = bytes; }

  // The sequencer's number of the client while plugged in, otherwise -1.
  int ClientId() const { return clientId_; }
  // How many ports read from the controller's port now (0 when unplugged).
  int OutConnections();

  // Sends bytes as they are: a SysEx message (F0 first) in pieces of
  // SysExPiece bytes, anything else as the sequencer's events for those
  // bytes. Bytes that make no complete event are not sent. False when the
  // controller is unplugged or the sequencer refused the events.
  bool Play(const Bytes& bytes);

  // The controller is unplugged: its client leaves the sequencer.
  void Unplug();
  // Plugged in again: a new client with the same names. False when it
  // cannot be opened.
  bool Plug();

  // The newest RawLogSize events received, oldest first, each as the
  // sequencer delivered it (a SysEx event's bytes exactly, trailing bytes
  // after F7 included).
  std::vector<Bytes> Raw();
  void ClearRaw();

  // Replies that could not be sent.
  std::size_t LostReplies() const { return lostReplies_; }

 private:
  bool Open();   // under mutex_
  void Close();  // under mutex_
  bool SendLocked(const Bytes& bytes);
  void Run();

  std::shared_ptr<VirtualController> controller_;
  Options options_;
  std::mutex mutex_;  // guards seq_, port_ and the raw log
  snd_seq_t* seq_ = nullptr;
  int port_ = -1;
  std::atomic<int> clientId_{-1};
  std::deque<Bytes> raw_;
  std::atomic<std::size_t> sysExPiece_;
  std::atomic<bool> stop_{false};
  std::atomic<std::size_t> lostReplies_{0};
  std::thread thread_;  // last: it starts once everything else exists
};

}  // namespace vlx

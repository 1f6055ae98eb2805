// A small JACK MIDI peer for tests and for the virtual controller: one JACK
// client with one MIDI input port and one MIDI output port, that sends raw
// bytes as single JACK MIDI events and collects every event it receives.
//
// It talks to libjack directly, so it sees exactly the bytes another client
// wrote (RtMidi's JACK input, for one, holds back a message that starts with
// F0 until a message ends in F7, and the editor's messages end in F7 00 00 00).
//
//   vlx::JackPeer peer({.ClientName = "vellox"});
//   peer.Send({0x90, 0x3C, 0x64});
//   if (peer.WaitForEvents(1, std::chrono::seconds(2))) ... peer.Received()[0]
//
// The server is the one named by Options::ServerName, or else by the
// JACK_DEFAULT_SERVER environment variable; no server is started. All
// members may be called from any thread; the process callback takes no lock
// (lock-free ring buffers between it and the callers).
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

namespace vlx {

class JackPeer {
 public:
  using Bytes = std::vector<uint8_t>;

  struct Options {
    std::string ClientName = "vellox";  // JACK adds "-01" and so on when it is taken
    std::string InPort = "in";          // MIDI input: what others send us
    std::string OutPort = "out";        // MIDI output: what we send
    std::string ServerName;             // empty: JACK_DEFAULT_SERVER or JACK's default
    std::size_t BufferBytes = 1 << 18;  // each way; a message must fit
  };

  // Opens the client, registers both ports and activates it. Throws
  // std::runtime_error when no server answers or a port cannot be made.
  explicit JackPeer(Options options);
  JackPeer();  // the default Options
  ~JackPeer();  // Close()
  JackPeer(const JackPeer&) = delete;
  JackPeer& operator=(const JackPeer&) = delete;

  // The client's name as JACK gave it, and the full names of our ports
  // ("vellox:in"); empty port names once RemovePorts() ran.
  const std::string& ClientName() const { return clientName_; }
  std::string InPortName() const;
  std::string OutPortName() const;

  // ---- sending
  // Queues bytes to go out as one JACK MIDI event at the start of the next
  // process cycle. False when they cannot (closed, no ports, empty, buffer
  // full, larger than JACK's MIDI buffer).
  bool Send(const Bytes& bytes);
  // Waits until every queued message has been written to JACK, or the time
  // is up. True when nothing is left.
  bool WaitSent(std::chrono::milliseconds timeout);

  // ---- receiving: every event that reached our input, in arrival order
  std::vector<Bytes> Received();
  std::vector<Bytes> TakeReceived();  // and forget them
  void ClearReceived();
  // Waits until at least count events have been received (since the last
  // TakeReceived/ClearReceived), or the time is up. True when they have.
  bool WaitForEvents(std::size_t count, std::chrono::milliseconds timeout);
  // Events lost because the receive buffer was full.
  std::size_t Dropped() const { return dropped_; }

  // ---- connections
  // The full names of the MIDI ports of clients whose name begins with
  // clientPrefix (ours left out): their outputs (outputs = true, the ports
  // we can read from) or their inputs.
  std::vector<std::string> FindPorts(const std::string& clientPrefix, bool outputs) const;
  // Connects their MIDI outputs to our input / our output to their MIDI
  // inputs. Returns the number of connections now in place that way.
  int ConnectFrom(const std::string& clientPrefix);
  int ConnectTo(const std::string& clientPrefix);
  // Number of connections of our input / output port.
  int InConnections() const;
  int OutConnections() const;

  // ---- going away (a controller unplugged)
  // Unregisters both ports; the client stays, with no port.
  void RemovePorts();
  // Registers them again (new ports of the same names) after RemovePorts.
  // False when the client is closed or a port cannot be made.
  bool AddPorts();
  // Deactivates and closes the client. Idempotent.
  void Close();
  bool IsOpen() const;
  // Whether the server shut the client down.
  bool ServerGone() const { return serverGone_; }

 private:
  struct Jack;
  static int Process(uint32_t frames, void* self);
  static void Shutdown(void* self);
  void Drain();  // moves received events from the ring buffer into received_; under receiveMutex_

  Options options_;
  std::unique_ptr<Jack> jack_;
  std::string clientName_;

  std::mutex sendMutex_;     // one writer of the send ring buffer
  std::mutex receiveMutex_;  // one reader of the receive ring buffer
  std::vector<Bytes> received_;
  std::atomic<std::size_t> dropped_{0};
  std::atomic<bool> serverGone_{false};
};

}  // namespace vlx

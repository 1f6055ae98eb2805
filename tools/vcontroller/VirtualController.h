// A software vellox: it takes the bytes the editor sends and answers the way
// the controller does (identity reply, parameter dump, dump acknowledgement).
// No transport here: VirtualControllerService (in-process) and
// JackVirtualController (JACK) carry the bytes to and from it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace vlx {

using MidiMessage = std::vector<uint8_t>;

// The answers the controller gives, and its firmware version.
struct VirtualControllerOptions {
  uint8_t FirmwareMajor = 1;  // identity reply byte 7 (0..127)
  uint8_t FirmwareMinor = 5;  // identity reply byte 8, hundredths (0..127)
  bool SilentIdentity = false;  // leave identity requests unanswered
  bool SilentDump = false;      // leave dump requests unanswered
  bool SilentAck = false;       // store received dumps but send no acknowledgement
  // A faulty controller: this body byte (0..38) of every received dump is
  // stored one higher than sent (7F becomes 00); -1: every byte is stored
  // as sent.
  int StoreWrongByte = -1;
};

class VirtualController {
 public:
  static constexpr std::size_t BodySize = 39;
  // A SysEx message longer than this (F0 and F7 included) is discarded while
  // it is collected; the controller never holds more.
  static constexpr std::size_t MaxSysExSize = 4096;
  // The received-messages log keeps the newest this many messages.
  static constexpr std::size_t MaxLogEntries = 4096;

  using Body = std::array<uint8_t, BodySize>;

  // The body of the factory profile: the 16 pad notes 1E..2D, the slider and
  // the four knobs (number, channel, data type), then the eight globals.
  static const Body& FactoryBody();

  // The messages the controller sends.
  static MidiMessage IdentityReply(uint8_t major, uint8_t minor);
  static MidiMessage DumpMessage(const Body& body);
  static MidiMessage DumpAck();

  VirtualController() = default;
  explicit VirtualController(const VirtualControllerOptions& options);  // throws like SetOptions

  // Feeds bytes as they arrive (whole messages, parts of messages, trailing
  // bytes) and returns the replies they caused, in order. Never throws on
  // any input.
  std::vector<MidiMessage> Receive(const uint8_t* data, std::size_t size);
  std::vector<MidiMessage> Receive(const MidiMessage& bytes) { return Receive(bytes.data(), bytes.size()); }

  // The profile held, as the 39 dump body bytes; the factory profile at first.
  Body Profile() const;
  // Throws std::invalid_argument when a byte is above 7F.
  void SetProfile(const Body& body);
  void ResetProfile();
  // Number of parameter dumps stored since construction.
  std::size_t DumpsStored() const;

  VirtualControllerOptions Options() const;
  // Throws std::invalid_argument when a version byte is above 7F or
  // StoreWrongByte is outside -1..38.
  void SetOptions(const VirtualControllerOptions& options);
  void SetFirmware(uint8_t major, uint8_t minor);
  void SetSilentIdentity(bool silent);
  void SetSilentDump(bool silent);
  void SetSilentAck(bool silent);
  // Throws std::invalid_argument outside -1..38.
  void SetStoreWrongByte(int bodyByte);

  // Every complete message received (SysEx from F0 to F7, and channel
  // messages), oldest first, at most MaxLogEntries.
  std::vector<MidiMessage> Received() const;
  void ClearReceived();
  // SysEx messages thrown away: longer than MaxSysExSize, or cut off by a
  // status byte before their F7.
  std::size_t Discarded() const;

  // Called with one line of text for every message received, discarded or
  // sent ("rx F0 7E ... (identity request)"). Called outside the
  // controller's lock, on the thread that called Receive.
  void SetLogger(std::function<void(const std::string&)> logger);

 private:
  enum class State { Idle, SysEx, Dropping };

  void CompleteSysEx(std::vector<MidiMessage>& replies, std::vector<std::string>& lines);
  void Discard(std::vector<std::string>& lines, const char* why);
  void Log(const MidiMessage& message);

  mutable std::mutex mutex_;
  VirtualControllerOptions options_;
  Body profile_ = FactoryBody();
  std::size_t dumpsStored_ = 0;
  std::size_t discarded_ = 0;

  // Parser state, kept across calls.
  State state_ = State::Idle;
  MidiMessage sysex_;
  std::size_t dropped_ = 0;       // bytes of the message being discarded
  uint8_t runningStatus_ = 0;     // channel status for running status, 0: none
  MidiMessage channelMessage_;

  std::vector<MidiMessage> log_;
  std::size_t logStart_ = 0;  // ring start once log_ is full

  std::function<void(const std::string&)> logger_;
};

// "F0 7E 00" for the given bytes.
std::string HexBytes(const uint8_t* data, std::size_t size);
inline std::string HexBytes(const MidiMessage& m) { return HexBytes(m.data(), m.size()); }

// Parses a firmware version "1.05" into its two reply bytes (1, 5): the
// whole part and the hundredths ("2.1" is 2.10, "3" is 3.00). Throws
// std::invalid_argument for anything else or a part above 127.
std::pair<uint8_t, uint8_t> ParseFirmwareVersion(const std::string& text);

// Parses hexadecimal byte text such as "90 3C 64" or "903C64" (blanks and
// commas separate, an optional 0x prefix per byte). Throws
// std::invalid_argument on anything else.
MidiMessage ParseHexBytes(const std::string& text);

}  // namespace vlx

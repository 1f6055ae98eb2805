#include "VirtualController.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

namespace vlx {

namespace {

constexpr uint8_t kSysExStart = 0xF0;
constexpr uint8_t kSysExEnd = 0xF7;
constexpr uint8_t kUniversalNonRealTime = 0x7E;
constexpr uint8_t kAllCall = 0x7F;
constexpr uint8_t kDeviceId = 0x00;
constexpr uint8_t kMaker = 0x34;
constexpr uint8_t kToController = 0x00;
constexpr uint8_t kFromController = 0x01;

const MidiMessage kDumpRequest = {0xF0, kMaker, kToController, 0x00, 0x08, 0xF7};

// Data bytes that follow a channel status byte.
std::size_t ChannelDataBytes(uint8_t status) {
  const uint8_t kind = status & 0xF0;
  return (kind == 0xC0 || kind == 0xD0) ? 1 : 2;
}

void CheckDataByte(uint8_t b, const char* what) {
  if (b > 0x7F) throw std::invalid_argument(std::string(what) + " must be 0..127 (7F)");
}

void CheckBodyByte(int index) {
  if (index < -1 || index >= static_cast<int>(VirtualController::BodySize))
    throw std::invalid_argument("the body byte stored wrongly must be 0..38 (or -1 for none)");
}

}  // namespace

const VirtualController::Body& VirtualController::FactoryBody() {
  static const Body body = [] {
    Body b{};
    std::size_t i = 0;
    for (uint8_t note = 0x1E; note <= 0x2D; ++note) b[i++] = note;  // pads A1..B8
    for (uint8_t cc : {0x07, 0x0C, 0x0D, 0x0E, 0x0F}) {             // slider, knobs 1..4
      b[i++] = cc;    // controller number
      b[i++] = 0x00;  // channel
      b[i++] = 0x04;  // data type CC
    }
    for (uint8_t g : {0x00, 0x02, 0x01, 0x00, 0x01, 0x00, 0x03, 0x00}) b[i++] = g;
    return b;
  }();
  return body;
}

MidiMessage VirtualController::IdentityReply(uint8_t major, uint8_t minor) {
  return {kSysExStart, kUniversalNonRealTime, kDeviceId, 0x06, 0x02, 0x1A, kMaker, major, minor, kSysExEnd};
}

MidiMessage VirtualController::DumpMessage(const Body& body) {
  MidiMessage m(BodySize + 5);
  m[0] = kSysExStart;
  m[1] = kMaker;
  m[2] = kFromController;
  m[3] = static_cast<uint8_t>(BodySize);
  std::copy(body.begin(), body.end(), m.begin() + 4);
  m[BodySize + 4] = kSysExEnd;
  return m;
}

MidiMessage VirtualController::DumpAck() { return {kSysExStart, kMaker, kFromController, 0x00, 0x09, kSysExEnd}; }

VirtualController::VirtualController(const VirtualControllerOptions& options) { SetOptions(options); }

std::vector<MidiMessage> VirtualController::Receive(const uint8_t* data, std::size_t size) {
  std::vector<MidiMessage> replies;
  std::vector<std::string> lines;
  std::function<void(const std::string&)> logger;
  {
    std::lock_guard lock(mutex_);
    logger = logger_;
    for (std::size_t i = 0; i < size; ++i) {
      const uint8_t b = data[i];
      if (b >= 0xF8) continue;  // real-time bytes may come anywhere and change nothing
      if (state_ == State::SysEx) {
        if (b < 0x80) {
          if (sysex_.size() + 1 >= MaxSysExSize) {  // no room left for this byte and F7
            dropped_ = sysex_.size() + 1;
            sysex_.clear();
            sysex_.shrink_to_fit();
            state_ = State::Dropping;
          } else {
            sysex_.push_back(b);
          }
          continue;
        }
        if (b == kSysExEnd) {
          sysex_.push_back(b);
          state_ = State::Idle;
          CompleteSysEx(replies, lines);
          continue;
        }
        // Any other status byte ends the message before its F7.
        dropped_ = sysex_.size();
        sysex_.clear();
        state_ = State::Idle;
        Discard(lines, "no F7");
      } else if (state_ == State::Dropping) {
        if (b < 0x80) {
          ++dropped_;
          continue;
        }
        state_ = State::Idle;
        if (b == kSysExEnd) {
          ++dropped_;
          Discard(lines, "too long");
          continue;
        }
        Discard(lines, "too long, no F7");
      }

      // Idle: outside a SysEx message.
      if (b == kSysExStart) {
        runningStatus_ = 0;
        channelMessage_.clear();
        sysex_.assign(1, b);
        state_ = State::SysEx;
      } else if (b >= 0xF1) {  // system common (and a stray F7): cancels running status
        runningStatus_ = 0;
        channelMessage_.clear();
      } else if (b >= 0x80) {
        runningStatus_ = b;
        channelMessage_.assign(1, b);
      } else if (runningStatus_ != 0) {
        if (channelMessage_.empty()) channelMessage_.assign(1, runningStatus_);
        channelMessage_.push_back(b);
        if (channelMessage_.size() == 1 + ChannelDataBytes(runningStatus_)) {
          Log(channelMessage_);
          if (logger) lines.push_back("rx " + HexBytes(channelMessage_));
          channelMessage_.clear();
        }
      }
      // Data bytes without a status (such as the 00 bytes after an F7) are ignored.
    }
    if (logger) {
      for (const MidiMessage& r : replies) lines.push_back("tx " + HexBytes(r));
    }
  }
  for (const std::string& line : lines) logger(line);
  return replies;
}

void VirtualController::CompleteSysEx(std::vector<MidiMessage>& replies, std::vector<std::string>& lines) {
  const MidiMessage& m = sysex_;
  Log(m);
  const char* what = "not understood";
  if (m.size() == 6 && m[1] == kUniversalNonRealTime && (m[2] == kDeviceId || m[2] == kAllCall) && m[3] == 0x06 &&
      m[4] == 0x01) {
    what = "identity request";
    if (!options_.SilentIdentity) replies.push_back(IdentityReply(options_.FirmwareMajor, options_.FirmwareMinor));
  } else if (m == kDumpRequest) {
    what = "dump request";
    if (!options_.SilentDump) replies.push_back(DumpMessage(profile_));
  } else if (m.size() == BodySize + 5 && m[1] == kMaker && m[2] == kToController && m[3] == BodySize) {
    what = "parameter dump";
    std::copy(m.begin() + 4, m.begin() + 4 + BodySize, profile_.begin());
    if (options_.StoreWrongByte >= 0) {
      uint8_t& wrong = profile_[static_cast<std::size_t>(options_.StoreWrongByte)];
      wrong = static_cast<uint8_t>((wrong + 1) & 0x7F);
    }
    ++dumpsStored_;
    if (!options_.SilentAck) replies.push_back(DumpAck());
  }
  if (logger_) lines.push_back("rx " + HexBytes(m) + " (" + what + ")");
  sysex_.clear();
  if (sysex_.capacity() > 256) sysex_.shrink_to_fit();
}

void VirtualController::Discard(std::vector<std::string>& lines, const char* why) {
  ++discarded_;
  if (logger_) lines.push_back("rx SysEx of " + std::to_string(dropped_) + " bytes discarded (" + why + ")");
  dropped_ = 0;
}

void VirtualController::Log(const MidiMessage& message) {
  if (log_.size() < MaxLogEntries) {
    log_.push_back(message);
  } else {
    log_[logStart_] = message;
    logStart_ = (logStart_ + 1) % MaxLogEntries;
  }
}

VirtualController::Body VirtualController::Profile() const {
  std::lock_guard lock(mutex_);
  return profile_;
}

void VirtualController::SetProfile(const Body& body) {
  for (uint8_t b : body) CheckDataByte(b, "a profile byte");
  std::lock_guard lock(mutex_);
  profile_ = body;
}

void VirtualController::ResetProfile() { SetProfile(FactoryBody()); }

std::size_t VirtualController::DumpsStored() const {
  std::lock_guard lock(mutex_);
  return dumpsStored_;
}

VirtualControllerOptions VirtualController::Options() const {
  std::lock_guard lock(mutex_);
  return options_;
}

void VirtualController::SetOptions(const VirtualControllerOptions& options) {
  CheckDataByte(options.FirmwareMajor, "the firmware major version");
  CheckDataByte(options.FirmwareMinor, "the firmware minor version");
  CheckBodyByte(options.StoreWrongByte);
  std::lock_guard lock(mutex_);
  options_ = options;
}

void VirtualController::SetStoreWrongByte(int bodyByte) {
  CheckBodyByte(bodyByte);
  std::lock_guard lock(mutex_);
  options_.StoreWrongByte = bodyByte;
}

void VirtualController::SetFirmware(uint8_t major, uint8_t minor) {
  CheckDataByte(major, "the firmware major version");
  CheckDataByte(minor, "the firmware minor version");
  std::lock_guard lock(mutex_);
  options_.FirmwareMajor = major;
  options_.FirmwareMinor = minor;
}

void VirtualController::SetSilentIdentity(bool silent) {
  std::lock_guard lock(mutex_);
  options_.SilentIdentity = silent;
}

void VirtualController::SetSilentDump(bool silent) {
  std::lock_guard lock(mutex_);
  options_.SilentDump = silent;
}

void VirtualController::SetSilentAck(bool silent) {
  std::lock_guard lock(mutex_);
  options_.SilentAck = silent;
}

std::vector<MidiMessage> VirtualController::Received() const {
  std::lock_guard lock(mutex_);
  std::vector<MidiMessage> out;
  out.reserve(log_.size());
  for (std::size_t i = 0; i < log_.size(); ++i) out.push_back(log_[(logStart_ + i) % log_.size()]);
  return out;
}

void VirtualController::ClearReceived() {
  std::lock_guard lock(mutex_);
  log_.clear();
  logStart_ = 0;
}

std::size_t VirtualController::Discarded() const {
  std::lock_guard lock(mutex_);
  return discarded_;
}

void VirtualController::SetLogger(std::function<void(const std::string&)> logger) {
  std::lock_guard lock(mutex_);
  logger_ = std::move(logger);
}

std::string HexBytes(const uint8_t* data, std::size_t size) {
  static const char digits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(size * 3);
  for (std::size_t i = 0; i < size; ++i) {
    if (i > 0) text.push_back(' ');
    text.push_back(digits[data[i] >> 4]);
    text.push_back(digits[data[i] & 0x0F]);
  }
  return text;
}

std::pair<uint8_t, uint8_t> ParseFirmwareVersion(const std::string& text) {
  const auto bad = [&] { return std::invalid_argument("not a firmware version (such as 1.05): \"" + text + "\""); };
  const std::size_t dot = text.find('.');
  const std::string whole = text.substr(0, dot);
  std::string hundredths = dot == std::string::npos ? "00" : text.substr(dot + 1);
  const auto digits = [](const std::string& s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
  };
  if (!digits(whole) || whole.size() > 3 || !digits(hundredths) || hundredths.size() > 2) throw bad();
  if (hundredths.size() == 1) hundredths += '0';
  const int major = std::stoi(whole);
  const int minor = std::stoi(hundredths);
  if (major > 0x7F) throw bad();
  return {static_cast<uint8_t>(major), static_cast<uint8_t>(minor)};
}

MidiMessage ParseHexBytes(const std::string& text) {
  auto digit = [&](char c) -> uint8_t {
    if (!std::isxdigit(static_cast<unsigned char>(c))) {
      throw std::invalid_argument("not a hexadecimal byte list: \"" + text + "\"");
    }
    return static_cast<uint8_t>(std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                                                                              : std::toupper(c) - 'A' + 10);
  };
  MidiMessage bytes;
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] == ' ' || text[i] == ',' || text[i] == '\t') {
      ++i;
      continue;
    }
    std::size_t end = text.find_first_of(" ,\t", i);
    if (end == std::string::npos) end = text.size();
    std::string token = text.substr(i, end - i);
    i = end;
    if (token.size() > 2 && token[0] == '0' && (token[1] == 'x' || token[1] == 'X')) token.erase(0, 2);
    if (token.size() == 1) {
      bytes.push_back(digit(token[0]));
    } else if (!token.empty() && token.size() % 2 == 0) {
      for (std::size_t k = 0; k < token.size(); k += 2) {
        bytes.push_back(static_cast<uint8_t>(digit(token[k]) << 4 | digit(token[k + 1])));
      }
    } else {
      throw std::invalid_argument("not a hexadecimal byte list: \"" + text + "\"");
    }
  }
  return bytes;
}

}  // namespace vlx

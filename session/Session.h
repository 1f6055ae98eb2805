// A synchronous session with the controller, for programs without a window:
// find the controller's ports as the editor's discovery does, send a
// message, and wait for a recognised answer with a time-out. The window
// keeps its own timer-driven path.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "midi/Midi.h"
#include "profile/ProfileFile.h"
#include "profile/ProfileFormats.h"
#include "sync/SysEx.h"

namespace vlx {

// No controller was found, or it did not answer in time.
class ENoController : public EVlxError {
 public:
  using EVlxError::EVlxError;
};

struct TSessionOptions {
  // Empty: look for the ports named "vellox", then for ports whose names
  // begin with "USB" (with the USB check). Otherwise the ports of exactly
  // this name, without the USB check.
  std::string PortName;
  // How long to wait for each answer.
  std::chrono::milliseconds Timeout{1000};
  // Whether the controller's USB id must be present (automatic search only).
  bool UsbCheck = true;
  // The USB check; unset: UsbDevicePresent() (platform/UsbCheck.h).
  std::function<bool()> UsbPresent;
  // The identity request is repeated this often while it is unanswered (a
  // new connection may not carry the first one).
  std::chrono::milliseconds IdentityRepeat{50};
};

// One port the session may use, as listed.
struct TPortInfo {
  int32_t Index;
  std::string Name;
  bool Controller;  // chosen by the session
};

class TSession {
 public:
  TSession(std::shared_ptr<IMidiService> service, TSessionOptions options);
  ~TSession();  // closes the ports
  TSession(const TSession&) = delete;
  TSession& operator=(const TSession&) = delete;

  // The ports of the service (no port is opened).
  std::vector<TPortInfo> Inputs();
  std::vector<TPortInfo> Outputs();
  // Which ports the session would use: indices of the inputs and the output
  // (-1: none). Runs the name part of discovery, opens nothing.
  struct TChoice {
    std::vector<int32_t> Inputs;
    std::vector<int32_t> Outputs;  // one for "vellox" or --port; all "USB" outputs
    bool Fallback = false;         // chosen by the "USB" prefix
  };
  TChoice Choose();

  // Opens the chosen ports and asks for the identity until a reply comes or
  // the time-out passes. Throws ENoController with a sentence for the user.
  // Returns 100 x major + minor, as the window reads it.
  int32_t Connect();
  bool Connected() const { return devicePort_ >= 0; }
  std::string InputName() const;   // the ports in use after Connect
  std::string OutputName() const;

  // Opens only the controller's input ports, with these handlers (the
  // monitor). Throws ENoController. Returns the names of the ports opened,
  // by input index (empty for ports not opened).
  std::vector<std::string> OpenInputs(TMidiDataEvent onData, TSysExDataEvent onSysEx);
  // Closes every open port; no handler runs once it has returned.
  void Close();

  // The dump request and the controller's dump (Connect first).
  TDumpBody ReadBody();
  // Sends the 47 bytes of the table's dump and waits for the acknowledgement.
  // Returns the bytes that were sent.
  std::vector<uint8_t> WriteTable(const TParaTable& table);

  // Sends text (hex text, as the editor's messages) to the device port, and
  // waits for a message the predicate accepts. Throws ENoController on time-out.
  std::vector<uint8_t> Request(const std::string& text, const std::function<bool(const TRxTokens&)>& accept,
                               const char* what);

  TMidiModule& Module() { return module_; }

 private:
  void OnSysEx(int32_t port, TByteStream& stream);
  void CheckPresence();  // the checks before any port is chosen
  // The first kept message that accept takes, and those before it go; mutex_ held.
  std::optional<std::vector<uint8_t>> Take(const std::function<bool(const TRxTokens&)>& accept, int32_t* port);
  void ClearReceived();

  TMidiModule module_;
  TSessionOptions options_;
  int32_t devicePort_ = -1;
  std::vector<int32_t> openInputs_;
  std::vector<int32_t> openOutputs_;

  std::mutex mutex_;
  std::condition_variable arrived_;
  struct Received {
    int32_t Port;
    std::vector<uint8_t> Bytes;
  };
  std::vector<Received> received_;  // guarded by mutex_, bounded
};

}  // namespace vlx

// The MIDI port layer: the lists of input and output ports, opening and
// closing them, sending SysEx given as hex text, and handing incoming short
// and SysEx messages to the handlers the window installs.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "midi/HexCodec.h"
#include "midi/MidiService.h"

namespace vlx {

// Result codes that pass through CheckResult (0 is success).
constexpr int32_t MidiNoError = 0;
constexpr int32_t MidiServiceFailed = 1;  // the service raised an error; its text is raised
// Result code of a probe that found no MIDI input device.
constexpr int32_t BadDeviceId = 2;
constexpr int32_t InvalidHandle = 5;      // a call on a port that is not open
// A SysEx message longer than this is cut while it is collected: only its
// first MaxSysExSize bytes are kept and delivered. A message whose bytes the
// MIDI service lost on the way is delivered as cut too: what arrived before
// the loss, without an F7.
constexpr std::size_t MaxSysExSize = 64 * 1024;

// Called on the service's thread. Status, data1 and data2 are the message's
// bytes in order; bytes the message does not have are 0.
using TMidiDataEvent = std::function<void(int32_t port, uint8_t status, uint8_t data1, uint8_t data2)>;
// Called on the service's thread once per complete SysEx message, when its F7
// arrives; the stream holds exactly its bytes, F0 to F7, at position 0. A
// message longer than MaxSysExSize arrives cut: its first MaxSysExSize bytes,
// without the F7; so does one damaged by lost bytes, once, at the loss. The stream is emptied after the handler returns: take what
// is needed before returning.
using TSysExDataEvent = std::function<void(int32_t port, TByteStream& stream)>;

// The receive buffer of one input port: collects a SysEx message until F7.
struct TSysExData {
  TByteStream Stream;
  bool Collecting = false;  // an F0 came, its F7 not yet
  bool Cut = false;         // the message being collected passed MaxSysExSize
  bool Damaged = false;     // delivered cut at a loss; the rest up to F7 is skipped
};

class TMidiDevices {
 public:
  struct TDevice {
    std::string Name;
    MidiPortId Id;
  };

  virtual ~TMidiDevices() = default;
  virtual void Open(int32_t index) = 0;
  virtual void Close(int32_t index) = 0;
  virtual bool IsOpen(int32_t index) const = 0;

  int32_t Count() const { return static_cast<int32_t>(Devices.size()); }
  // Raises the CheckIndex error for an index outside the list.
  const std::string& Name(int32_t index) const;

  // Records code in LastResult; raises text as an EMidiError when code is not
  // 0 and a text is given. A failing code without a text is only recorded.
  void CheckResult(int32_t code, const std::string& text = {});
  // Throws "%s: 请检查USB设备是否正常连接! (%d)" for an index outside the list.
  void CheckIndex(int32_t index) const;
  virtual const char* ClassName() const = 0;

  std::vector<TDevice> Devices;  // fixed at creation; index = device index
  int32_t LastResult = 0;

 protected:
  TMidiDevices() = default;
  // Fills Devices from the service's list; a failing service raises its text.
  void Enumerate(const std::function<std::vector<MidiPortId>()>& list);
};

class TMidiInput : public TMidiDevices {
 public:
  explicit TMidiInput(IMidiService& service);  // enumerates the input ports
  ~TMidiInput() override;                      // closes open ports first

  void Open(int32_t index) override;   // no-op when open
  void Close(int32_t index) override;  // no-op when closed; callbacks stop before it returns
  bool IsOpen(int32_t index) const override;
  const char* ClassName() const override { return "TMidiInput"; }
  // The open handle of the port, or nullptr while it is closed. Raises the
  // CheckIndex error for an index outside the list.
  const IMidiInPort* DeviceHandle(int32_t index) const;

  // Set before any port is opened; called on the service's thread. An
  // exception that leaves a handler is dropped there.
  TMidiDataEvent OnMidiData;
  TSysExDataEvent OnSysExData;

  // Handles bytes from the service for port index (service thread): a short
  // message, a whole SysEx message, or a piece of one. SysEx bytes are
  // collected into the port's buffer until F7. No bytes (nullptr, 0): the
  // service lost bytes here; a SysEx message being collected is delivered
  // cut at once and the rest of it is skipped.
  void Receive(int32_t index, const uint8_t* data, std::size_t size);
  // The receive buffer of a port, for inspection; it is only consistent while
  // no callback of that port runs.
  const TSysExData& SysExBuffer(int32_t index) const;

 private:
  std::size_t ReceiveSysEx(int32_t index, TSysExData& buffer, const uint8_t* data, std::size_t size);
  void Deliver(int32_t index, TSysExData& buffer);

  IMidiService& service_;
  // Declared before handles_ so that the buffers outlive the open ports even
  // during member destruction; the destructor closes the ports first anyway.
  std::vector<std::unique_ptr<TSysExData>> SysExBuffers;
  std::vector<std::unique_ptr<IMidiInPort>> handles_;
};

class TMidiOutput : public TMidiDevices {
 public:
  TMidiOutput(IMidiService& service, const std::atomic<int32_t>& lastProbeResult);
  ~TMidiOutput() override;  // closes open ports

  void Open(int32_t index) override;   // no-op when open
  void Close(int32_t index) override;  // a closed port raises "invalid handle"
  bool IsOpen(int32_t index) const override;
  const char* ClassName() const override { return "TMidiOutput"; }
  // The open handle of the port, or nullptr while it is closed. Raises the
  // CheckIndex error for an index outside the list.
  IMidiOutPort* DeviceHandle(int32_t index) const;

  // Never report anything: an unopened port, a bad index, a service failure
  // and a probe result of 2 all end the send silently. SendSysEx sends the
  // bytes of HexTextToBytes(text); SendSysExStream sends the stream as it is.
  void SendSysEx(int32_t index, const std::string& text);
  void SendSysExStream(int32_t index, TByteStream& stream);

 private:
  IMidiService& service_;
  const std::atomic<int32_t>& lastProbeResult_;
  std::vector<std::unique_ptr<IMidiOutPort>> handles_;
};

// The module: the two lists, created on first use, and the probe result.
class TMidiModule {
 public:
  explicit TMidiModule(std::shared_ptr<IMidiService> service);
  ~TMidiModule();  // Release()

  TMidiInput& InputPorts();
  TMidiOutput& OutputPorts();
  // Closes every port still open, then releases the input list and then the
  // output list. The next InputPorts()/OutputPorts() enumerates again.
  void Release();
  // The presence probe: 0 while an input port of another client exists, 2
  // (BadDeviceId) when none is left, 1 when the service could not tell.
  // Stored in LastProbeResult.
  int32_t ProbeInputDevice();

  std::atomic<int32_t> LastProbeResult{0};
  IMidiService& Service() { return *service_; }

 private:
  std::shared_ptr<IMidiService> service_;
  std::unique_ptr<TMidiInput> input_;
  std::unique_ptr<TMidiOutput> output_;
};

}  // namespace vlx

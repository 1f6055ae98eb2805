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

// Result code of a probe that found no MIDI input device.
constexpr int32_t BadDeviceId = 2;
// A SysEx message longer than this is dropped while it is collected.
constexpr std::size_t MaxSysExSize = 64 * 1024;

using TMidiDataEvent = std::function<void(int32_t port, uint8_t status, uint8_t data1, uint8_t data2)>;
using TSysExDataEvent = std::function<void(int32_t port, TByteStream& stream)>;

// The receive buffer of one input port: collects a SysEx message until F7.
struct TSysExData {
  TByteStream Stream;
  bool Dropping = false;  // the message being collected passed MaxSysExSize
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
  const std::string& Name(int32_t index) const { return Devices.at(index).Name; }

  // Records code in LastResult; raises text as an EMidiError when code is not
  // 0 and a text is given.
  void CheckResult(int32_t code, const std::string& text = {});
  // Throws "%s: 请检查USB设备是否正常连接! (%d)" for an index outside the list.
  void CheckIndex(int32_t index) const;
  virtual const char* ClassName() const = 0;

  std::vector<TDevice> Devices;  // fixed at creation; index = device index
  int32_t LastResult = 0;
};

class TMidiInput : public TMidiDevices {
 public:
  explicit TMidiInput(IMidiService& service);  // enumerates the input ports
  ~TMidiInput() override;                      // closes open ports first

  void Open(int32_t index) override;   // no-op when open
  void Close(int32_t index) override;  // no-op when closed; callbacks stop before it returns
  bool IsOpen(int32_t index) const override;
  const char* ClassName() const override { return "TMidiInput"; }
  // The open handle of the port, or nullptr while it is closed.
  const IMidiInPort* DeviceHandle(int32_t index) const;

  // Set before any port is opened; called on the service's thread.
  TMidiDataEvent OnMidiData;
  TSysExDataEvent OnSysExData;

  // Handles one message from the service for port index (service thread).
  void Receive(int32_t index, const uint8_t* data, std::size_t size);

 private:
  IMidiService& service_;
  std::vector<std::unique_ptr<IMidiInPort>> handles_;
  std::vector<std::unique_ptr<TSysExData>> SysExBuffers;
};

class TMidiOutput : public TMidiDevices {
 public:
  TMidiOutput(IMidiService& service, const std::atomic<int32_t>& lastProbeResult);
  ~TMidiOutput() override;

  void Open(int32_t index) override;   // no-op when open
  void Close(int32_t index) override;  // a closed port raises "invalid handle"
  bool IsOpen(int32_t index) const override;
  const char* ClassName() const override { return "TMidiOutput"; }
  IMidiOutPort* DeviceHandle(int32_t index) const;

  // Never report anything: an unopened port, a bad index, a service failure
  // and a probe result of 2 all end the send silently.
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
  // output list.
  void Release();
  // The presence probe: 0 while an input port of another client exists, 2
  // (BadDeviceId) when none is left. Stored in LastProbeResult.
  int32_t ProbeInputDevice();

  std::atomic<int32_t> LastProbeResult{0};
  IMidiService& Service() { return *service_; }

 private:
  std::shared_ptr<IMidiService> service_;
  std::unique_ptr<TMidiInput> input_;
  std::unique_ptr<TMidiOutput> output_;
};

}  // namespace vlx

#include "midi/Midi.h"

#include <algorithm>
#include <cstring>

namespace vlx {

// ---- TMidiDevices

const std::string& TMidiDevices::Name(int32_t index) const {
  CheckIndex(index);
  return Devices[static_cast<std::size_t>(index)].Name;
}

void TMidiDevices::CheckResult(int32_t code, const std::string& text) {
  LastResult = code;
  if (code != MidiNoError && !text.empty()) throw EMidiError(text);
}

void TMidiDevices::CheckIndex(int32_t index) const {
  if (index >= 0 && index < Count()) return;
  throw EMidiError(std::string(ClassName()) + ": 请检查USB设备是否正常连接! (" + std::to_string(index) + ")");
}

void TMidiDevices::Enumerate(const std::function<std::vector<MidiPortId>()>& list) {
  std::vector<MidiPortId> ports;
  try {
    ports = list();
  } catch (const EMidiError& e) {
    CheckResult(MidiServiceFailed, e.what());
  }
  CheckResult(MidiNoError);
  Devices.reserve(ports.size());
  for (auto& port : ports) Devices.push_back(TDevice{port.Name, std::move(port)});
}

// ---- TMidiInput

TMidiInput::TMidiInput(IMidiService& service) : service_(service) {
  Enumerate([this] { return service_.Inputs(); });
  for (std::size_t i = 0; i < Devices.size(); ++i) SysExBuffers.push_back(std::make_unique<TSysExData>());
  handles_.resize(Devices.size());
}

TMidiInput::~TMidiInput() {
  // Destroying a port's handle stops its callbacks; only then may the
  // receive buffers go.
  for (auto& handle : handles_) handle.reset();
}

void TMidiInput::Open(int32_t index) {
  CheckIndex(index);
  const auto i = static_cast<std::size_t>(index);
  if (handles_[i]) return;
  // No callback for this port runs now: start from an empty buffer.
  *SysExBuffers[i] = TSysExData{};
  try {
    handles_[i] = service_.OpenInput(Devices[i].Id, [this, index](const uint8_t* data, std::size_t size) {
      Receive(index, data, size);
    });
  } catch (const EMidiError& e) {
    CheckResult(MidiServiceFailed, e.what());
  }
  CheckResult(MidiNoError);
}

void TMidiInput::Close(int32_t index) {
  CheckIndex(index);
  handles_[static_cast<std::size_t>(index)].reset();
}

bool TMidiInput::IsOpen(int32_t index) const { return DeviceHandle(index) != nullptr; }

const IMidiInPort* TMidiInput::DeviceHandle(int32_t index) const {
  CheckIndex(index);
  return handles_[static_cast<std::size_t>(index)].get();
}

const TSysExData& TMidiInput::SysExBuffer(int32_t index) const {
  CheckIndex(index);
  return *SysExBuffers[static_cast<std::size_t>(index)];
}

void TMidiInput::Receive(int32_t index, const uint8_t* data, std::size_t size) {
  if (index < 0 || index >= Count()) return;
  TSysExData& buffer = *SysExBuffers[static_cast<std::size_t>(index)];
  if (data == nullptr && size == 0) {
    // Bytes were lost: the message being collected is damaged. What came of
    // it goes out now as a cut message (no F7), once; its rest is skipped.
    if (buffer.Collecting && !buffer.Damaged) {
      Deliver(index, buffer);
      buffer.Collecting = buffer.Cut = buffer.Damaged = true;
    }
    return;
  }
  if (data == nullptr || size == 0) return;
  // One piece may hold many messages: each SysEx message in it is taken in
  // turn, in a loop, so that no number of them can exhaust the stack.
  while (size > 0 && (data[0] == 0xF0 || (buffer.Collecting && (data[0] < 0x80 || data[0] == 0xF7)))) {
    const std::size_t used = ReceiveSysEx(index, buffer, data, size);
    data += used;
    size -= used;
  }
  if (size == 0) return;
  const uint8_t status = data[0];
  if (status < 0x80 || status == 0xF7) return;  // stray data bytes outside a SysEx
  if (buffer.Collecting && status < 0xF8) {
    // Any status byte but a real-time one ends a SysEx message: the
    // unfinished one is dropped.
    buffer.Stream.Bytes.clear();
    buffer.Collecting = buffer.Cut = buffer.Damaged = false;
  }
  if (!OnMidiData) return;
  try {
    OnMidiData(index, status, size > 1 ? data[1] : 0, size > 2 ? data[2] : 0);
  } catch (const std::exception&) {
    // Nobody on the service's thread could report it.
  }
}

std::size_t TMidiInput::ReceiveSysEx(int32_t index, TSysExData& buffer, const uint8_t* data, std::size_t size) {
  if (data[0] == 0xF0) {  // a new message starts fresh, whatever came before
    buffer.Stream.Bytes.clear();
    buffer.Collecting = true;
    buffer.Cut = buffer.Damaged = false;
  }
  const auto* end = static_cast<const uint8_t*>(std::memchr(data, 0xF7, size));
  const std::size_t take = end ? static_cast<std::size_t>(end - data) + 1 : size;

  if (!buffer.Cut) {
    const std::size_t room = MaxSysExSize - buffer.Stream.Size();
    // Longer than any message of the controller's: its first MaxSysExSize
    // bytes are kept and the rest up to its F7 is skipped, so the buffer
    // stays bounded and the message still replaces the last one received.
    buffer.Cut = take > room;
    buffer.Stream.Bytes.insert(buffer.Stream.Bytes.end(), data, data + std::min(take, room));
  }
  if (!end) return size;

  if (!buffer.Damaged) Deliver(index, buffer);  // a damaged one went out at the loss
  buffer.Stream.Bytes.clear();
  buffer.Stream.Position = 0;
  buffer.Collecting = buffer.Cut = buffer.Damaged = false;
  return take;
}

void TMidiInput::Deliver(int32_t index, TSysExData& buffer) {
  if (OnSysExData) {
    buffer.Stream.Position = 0;
    try {
      OnSysExData(index, buffer.Stream);
    } catch (const std::exception&) {
      // Nobody on the service's thread could report it.
    }
  }
  buffer.Stream.Bytes.clear();
  buffer.Stream.Position = 0;
}

// ---- TMidiOutput

TMidiOutput::TMidiOutput(IMidiService& service, const std::atomic<int32_t>& lastProbeResult)
    : service_(service), lastProbeResult_(lastProbeResult) {
  Enumerate([this] { return service_.Outputs(); });
  handles_.resize(Devices.size());
}

TMidiOutput::~TMidiOutput() = default;

void TMidiOutput::Open(int32_t index) {
  CheckIndex(index);
  const auto i = static_cast<std::size_t>(index);
  if (handles_[i]) return;
  try {
    handles_[i] = service_.OpenOutput(Devices[i].Id);
  } catch (const EMidiError& e) {
    CheckResult(MidiServiceFailed, e.what());
  }
  CheckResult(MidiNoError);
}

void TMidiOutput::Close(int32_t index) {
  CheckIndex(index);
  const auto i = static_cast<std::size_t>(index);
  if (!handles_[i])
    CheckResult(InvalidHandle, "Invalid MIDI output handle: port " + std::to_string(index) + " (\"" +
                                   Devices[i].Name + "\") is not open.");
  handles_[i].reset();
  CheckResult(MidiNoError);
}

bool TMidiOutput::IsOpen(int32_t index) const { return DeviceHandle(index) != nullptr; }

IMidiOutPort* TMidiOutput::DeviceHandle(int32_t index) const {
  CheckIndex(index);
  return handles_[static_cast<std::size_t>(index)].get();
}

void TMidiOutput::SendSysEx(int32_t index, const std::string& text) {
  TByteStream stream;
  HexTextToBytes(text, stream);
  SendSysExStream(index, stream);
}

void TMidiOutput::SendSysExStream(int32_t index, TByteStream& stream) {
  stream.Position = 0;
  if (lastProbeResult_.load() == BadDeviceId) return;
  try {
    IMidiOutPort* port = DeviceHandle(index);
    if (port == nullptr || stream.Size() == 0) return;
    port->Send(stream.Memory(), stream.Size());  // the service takes its own copy
    LastResult = MidiNoError;
  } catch (const EMidiError&) {
    // A send reports nothing; the failure only stays in LastResult.
    LastResult = MidiServiceFailed;
  } catch (const std::exception&) {
  }
}

// ---- TMidiModule

TMidiModule::TMidiModule(std::shared_ptr<IMidiService> service) : service_(std::move(service)) {}

TMidiModule::~TMidiModule() { Release(); }

TMidiInput& TMidiModule::InputPorts() {
  if (!input_) input_ = std::make_unique<TMidiInput>(*service_);
  return *input_;
}

TMidiOutput& TMidiModule::OutputPorts() {
  if (!output_) output_ = std::make_unique<TMidiOutput>(*service_, LastProbeResult);
  return *output_;
}

void TMidiModule::Release() {
  // Each list closes the ports still open before its buffers go.
  input_.reset();
  output_.reset();
}

int32_t TMidiModule::ProbeInputDevice() {
  int32_t result = MidiServiceFailed;
  try {
    result = service_->AnyInputLeft() ? MidiNoError : BadDeviceId;
  } catch (const std::exception&) {
    // The service could not tell: not a reason to take the device offline.
  }
  LastProbeResult = result;
  return result;
}

}  // namespace vlx

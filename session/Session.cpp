#include "session/Session.h"

#include <algorithm>

#include "platform/UsbCheck.h"
#include "session/ControllerPorts.h"

namespace vlx {

namespace {

constexpr std::size_t MaxKept = 256;  // received SysEx messages kept while waiting

std::vector<std::string> Names(const TMidiDevices& ports) {
  std::vector<std::string> names;
  for (int32_t i = 0; i < ports.Count(); ++i) names.push_back(ports.Name(i));
  return names;
}

// "named "vellox" or beginning with "USB"".
std::string ControllerPortsText() {
  return "named \"" + std::string(ControllerPortName) + "\" or beginning with \"" + std::string(FallbackPortPrefix) +
         "\"";
}

std::string Ms(std::chrono::milliseconds ms) { return std::to_string(ms.count()) + " ms"; }

}  // namespace

TSession::TSession(std::shared_ptr<IMidiService> service, TSessionOptions options)
    : module_(std::move(service)), options_(std::move(options)) {
  if (!options_.UsbPresent) options_.UsbPresent = [] { return UsbDevicePresent(); };
}

TSession::~TSession() {
  // The ports close before the handler's object goes.
  module_.Release();
}

std::vector<TPortInfo> TSession::Inputs() {
  const TChoice choice = Choose();
  std::vector<TPortInfo> out;
  TMidiInput& in = module_.InputPorts();
  for (int32_t i = 0; i < in.Count(); ++i)
    out.push_back({i, in.Name(i), std::find(choice.Inputs.begin(), choice.Inputs.end(), i) != choice.Inputs.end()});
  return out;
}

std::vector<TPortInfo> TSession::Outputs() {
  const TChoice choice = Choose();
  std::vector<TPortInfo> out;
  TMidiOutput& o = module_.OutputPorts();
  for (int32_t i = 0; i < o.Count(); ++i)
    out.push_back({i, o.Name(i), std::find(choice.Outputs.begin(), choice.Outputs.end(), i) != choice.Outputs.end()});
  return out;
}

TSession::TChoice TSession::Choose() {
  const TPortChoice c =
      ChooseControllerPorts(Names(module_.InputPorts()), Names(module_.OutputPorts()), nullptr, options_.PortName);
  return {c.Inputs, c.Outputs, c.Mode == 2};
}

void TSession::CheckPresence() {
  std::function<bool()> usb;
  if (options_.UsbCheck) usb = [this] { return options_.UsbPresent && options_.UsbPresent(); };
  const TPortChoice c =
      ChooseControllerPorts(Names(module_.InputPorts()), Names(module_.OutputPorts()), usb, options_.PortName);
  if (c.Cause == ControllerCause::NoInputPort)
    throw ENoController("no controller: there is no MIDI input port at all (is the controller plugged in?)");
  if (c.Cause == ControllerCause::NoUsbDevice)
    throw ENoController("no controller: no USB device " + ControllerUsbIdText() +
                        " is plugged in (--no-usb-check skips this test, for example for a virtual controller)");
}

std::vector<std::string> TSession::OpenInputs(TMidiDataEvent onData, TSysExDataEvent onSysEx) {
  CheckPresence();
  TMidiInput& in = module_.InputPorts();
  const TChoice choice = Choose();
  if (choice.Inputs.empty())
    throw ENoController("no controller: no MIDI input port " +
                        (options_.PortName.empty() ? ControllerPortsText()
                                                   : "\"" + options_.PortName + "\""));
  in.OnMidiData = std::move(onData);
  in.OnSysExData = std::move(onSysEx);
  std::vector<std::string> names(static_cast<std::size_t>(in.Count()));
  try {
    for (int32_t i : choice.Inputs) {
      in.Open(i);
      openInputs_.push_back(i);
      names[static_cast<std::size_t>(i)] = in.Name(i);
    }
  } catch (const EMidiError& e) {
    throw ENoController(std::string("the controller's MIDI input cannot be opened: ") + e.what());
  }
  return names;
}

void TSession::Close() {
  module_.Release();
  openInputs_.clear();
  openOutputs_.clear();
  devicePort_ = -1;
}

int32_t TSession::Connect() {
  TMidiInput& in = module_.InputPorts();
  TMidiOutput& out = module_.OutputPorts();
  const bool named = !options_.PortName.empty();
  CheckPresence();

  const TChoice choice = Choose();
  const std::string what = named ? "\"" + options_.PortName + "\"" : ControllerPortsText();
  if (choice.Outputs.empty()) throw ENoController("no controller: no MIDI output port " + what);
  if (choice.Inputs.empty())
    throw ENoController("no controller: no MIDI input port " + what + ", so no answer could arrive");

  in.OnSysExData = [this](int32_t port, TByteStream& stream) { OnSysEx(port, stream); };
  try {
    for (int32_t i : choice.Inputs) {
      in.Open(i);
      openInputs_.push_back(i);
    }
    for (int32_t i : choice.Outputs) {
      out.Open(i);
      openOutputs_.push_back(i);
    }
  } catch (const EMidiError& e) {
    throw ENoController(std::string("the controller's MIDI ports cannot be opened: ") + e.what());
  }

  ClearReceived();
  const auto deadline = std::chrono::steady_clock::now() + options_.Timeout;
  for (;;) {
    for (int32_t i : openOutputs_) out.SendSysEx(i, IdentityRequestText);
    const auto until = std::min(deadline, std::chrono::steady_clock::now() + options_.IdentityRepeat);
    std::unique_lock lock(mutex_);
    int32_t port = -1;
    std::optional<std::vector<uint8_t>> reply;
    arrived_.wait_until(lock, until, [&] {
      reply = Take(IsIdentityReply, &port);
      return reply.has_value();
    });
    lock.unlock();
    if (reply) {
      devicePort_ = openOutputs_.front();
      // The output of the same name as the input that answered.
      if (choice.Fallback && port >= 0 && port < in.Count())
        devicePort_ = OutputOfAnsweringInput(Names(out), in.Name(port), devicePort_);
      TRxTokens tokens;
      TByteStream stream;
      stream.Bytes = *reply;
      TokenizeSysEx(stream, tokens);
      return FirmwareVersion(tokens);
    }
    if (std::chrono::steady_clock::now() >= deadline) break;
  }
  std::string ports;
  for (int32_t i : openOutputs_) ports += (ports.empty() ? "\"" : ", \"") + out.Name(i) + "\"";
  throw ENoController("no answer: the controller did not answer the identity request on " + ports + " within " +
                      Ms(options_.Timeout));
}

std::string TSession::InputName() const {
  auto& self = const_cast<TSession&>(*this);
  std::string names;
  for (int32_t i : openInputs_) names += (names.empty() ? "" : ", ") + self.module_.InputPorts().Name(i);
  return names;
}

std::string TSession::OutputName() const {
  if (devicePort_ < 0) return {};
  return const_cast<TSession&>(*this).module_.OutputPorts().Name(devicePort_);
}

void TSession::OnSysEx(int32_t port, TByteStream& stream) {
  {
    std::lock_guard lock(mutex_);
    if (received_.size() >= MaxKept) received_.erase(received_.begin());
    received_.push_back({port, stream.Bytes});
  }
  arrived_.notify_all();
}

std::optional<std::vector<uint8_t>> TSession::Take(const std::function<bool(const TRxTokens&)>& accept,
                                                   int32_t* port) {
  // Called with mutex_ held.
  for (std::size_t k = 0; k < received_.size(); ++k) {
    TRxTokens tokens;
    TByteStream stream;
    stream.Bytes = received_[k].Bytes;
    TokenizeSysEx(stream, tokens);
    if (!accept(tokens)) continue;
    std::vector<uint8_t> bytes = std::move(received_[k].Bytes);
    if (port) *port = received_[k].Port;
    received_.erase(received_.begin(), received_.begin() + static_cast<std::ptrdiff_t>(k) + 1);
    return bytes;
  }
  return std::nullopt;
}

void TSession::ClearReceived() {
  std::lock_guard lock(mutex_);
  received_.clear();
}

std::vector<uint8_t> TSession::Request(const std::string& text, const std::function<bool(const TRxTokens&)>& accept,
                                       const char* what) {
  if (devicePort_ < 0) throw ENoController("no controller: not connected");
  // Cleared before the send, so that an answer arriving at once is kept.
  ClearReceived();
  module_.OutputPorts().SendSysEx(devicePort_, text);
  std::unique_lock lock(mutex_);
  std::optional<std::vector<uint8_t>> answer;
  arrived_.wait_for(lock, options_.Timeout, [&] {
    answer = Take(accept, nullptr);
    return answer.has_value();
  });
  if (!answer)
    throw ENoController(std::string("no answer: the controller sent no ") + what + " within " + Ms(options_.Timeout));
  return *answer;
}

TDumpBody TSession::ReadBody() {
  const std::vector<uint8_t> dump = Request(DumpRequestText, IsParameterDump, "parameter dump");
  TDumpBody body{};
  for (std::size_t b = 0; b < body.size(); ++b) body[b] = dump[4 + b];
  return body;
}

std::vector<uint8_t> TSession::WriteTable(const TParaTable& table) {
  CheckProfile(table, "profile");
  const std::string text = BuildDumpText(table);
  TByteStream bytes;
  HexTextToBytes(text, bytes);
  Request(text, IsDumpAck, "acknowledgement of the dump");
  return bytes.Bytes;
}

}  // namespace vlx

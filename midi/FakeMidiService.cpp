#include "midi/FakeMidiService.h"

#include <algorithm>

namespace vlx {

class FakeMidiService::InPort : public IMidiInPort {
 public:
  InPort(FakeMidiService& owner, std::string key, MidiBytesCallback callback)
      : owner_(owner), key_(std::move(key)), callback_(std::move(callback)) {}
  ~InPort() override {
    std::lock_guard deliver(owner_.deliver_);  // waits for a running callback
    std::lock_guard lock(owner_.mutex_);
    std::erase(owner_.openInputs_, this);
  }
  const std::string& Key() const { return key_; }
  void Call(const uint8_t* data, std::size_t size) { callback_(data, size); }

 private:
  FakeMidiService& owner_;
  std::string key_;
  MidiBytesCallback callback_;
};

class FakeMidiService::OutPort : public IMidiOutPort {
 public:
  OutPort(FakeMidiService& owner, std::string key) : owner_(owner), key_(std::move(key)) {}
  ~OutPort() override {
    std::lock_guard lock(owner_.mutex_);
    std::erase(owner_.openOutputs_, this);
  }
  const std::string& Key() const { return key_; }

  void Send(const uint8_t* data, std::size_t size) override {
    Bytes bytes(data, data + size);
    {
      std::lock_guard lock(owner_.mutex_);
      Port* port = owner_.FindPort(owner_.outputs_, key_);
      if (port == nullptr || port->Removed) throw EMidiError("MIDI output \"" + key_ + "\" is no longer available.");
      if (!port->SendError.empty()) throw EMidiError(port->SendError);
      owner_.sent_[key_].push_back(bytes);
    }
    if (owner_.OnSend) owner_.OnSend(key_, bytes);
  }

 private:
  FakeMidiService& owner_;
  std::string key_;
};

FakeMidiService::~FakeMidiService() {
  {
    std::lock_guard lock(jobsMutex_);
    stop_ = true;
  }
  jobsChanged_.notify_all();
  if (worker_.joinable()) worker_.join();
}

std::string FakeMidiService::AddPort(std::vector<Port>& list, const std::string& name, std::string key) {
  std::lock_guard lock(mutex_);
  if (key.empty()) key = name + "#" + std::to_string(++serial_);
  for (const Port& port : list)
    if (port.Key == key) throw std::invalid_argument("FakeMidiService: port key \"" + key + "\" is taken");
  list.push_back(Port{name, key, {}, {}, false});
  return key;
}

std::string FakeMidiService::AddInput(const std::string& name, std::string key) {
  return AddPort(inputs_, name, std::move(key));
}

std::string FakeMidiService::AddOutput(const std::string& name, std::string key) {
  return AddPort(outputs_, name, std::move(key));
}

FakeMidiService::Port* FakeMidiService::FindPort(std::vector<Port>& list, const std::string& key) {
  for (Port& port : list)
    if (port.Key == key) return &port;
  return nullptr;
}

void FakeMidiService::RemoveInput(const std::string& key) {
  std::lock_guard lock(mutex_);
  if (Port* port = FindPort(inputs_, key)) port->Removed = true;
}

void FakeMidiService::RemoveOutput(const std::string& key) {
  std::lock_guard lock(mutex_);
  if (Port* port = FindPort(outputs_, key)) port->Removed = true;
}

void FakeMidiService::FailOpen(const std::string& key, const std::string& text) {
  std::lock_guard lock(mutex_);
  Port* port = FindPort(inputs_, key);
  if (port == nullptr) port = FindPort(outputs_, key);
  if (port == nullptr) throw std::invalid_argument("FakeMidiService: no port \"" + key + "\"");
  port->OpenError = text;
}

void FakeMidiService::FailSend(const std::string& key, const std::string& text) {
  std::lock_guard lock(mutex_);
  Port* port = FindPort(outputs_, key);
  if (port == nullptr) throw std::invalid_argument("FakeMidiService: no output \"" + key + "\"");
  port->SendError = text;
}

void FakeMidiService::FailEnumeration(const std::string& text) {
  std::lock_guard lock(mutex_);
  enumerationError_ = text;
}

bool FakeMidiService::Deliver(const std::string& key, const Bytes& bytes, std::size_t chunk) {
  std::lock_guard deliver(deliver_);
  std::vector<InPort*> targets;
  {
    std::lock_guard lock(mutex_);
    const Port* port = FindPort(inputs_, key);
    if (port == nullptr || port->Removed) return false;
    for (InPort* in : openInputs_)
      if (in->Key() == key) targets.push_back(in);
  }
  // While deliver_ is held no target can finish its destructor.
  if (chunk == 0) chunk = std::max<std::size_t>(bytes.size(), 1);
  for (InPort* in : targets) {
    if (bytes.empty()) {  // bytes lost on the way, as a service tells it
      ++running_;
      in->Call(nullptr, 0);
      --running_;
    }
    for (std::size_t at = 0; at < bytes.size(); at += chunk) {
      ++running_;
      in->Call(bytes.data() + at, std::min(chunk, bytes.size() - at));
      --running_;
    }
  }
  return !targets.empty();
}

bool FakeMidiService::Inject(const std::string& key, const Bytes& bytes, std::size_t chunk) {
  return Deliver(key, bytes, chunk);
}

void FakeMidiService::InjectAsync(const std::string& key, const Bytes& bytes, std::size_t chunk) {
  {
    std::lock_guard lock(jobsMutex_);
    jobs_.push_back(Job{key, bytes, chunk});
    if (!worker_.joinable()) worker_ = std::thread([this] { Worker(); });
  }
  jobsChanged_.notify_all();
}

void FakeMidiService::Worker() {
  std::unique_lock lock(jobsMutex_);
  for (;;) {
    jobsChanged_.wait(lock, [this] { return stop_ || !jobs_.empty(); });
    if (stop_) return;
    Job job = std::move(jobs_.front());
    jobs_.pop_front();
    busy_ = true;
    lock.unlock();
    Deliver(job.Key, job.Data, job.Chunk);
    lock.lock();
    busy_ = false;
    jobsChanged_.notify_all();
  }
}

void FakeMidiService::WaitIdle() {
  std::unique_lock lock(jobsMutex_);
  jobsChanged_.wait(lock, [this] { return stop_ || (jobs_.empty() && !busy_); });
}

std::vector<FakeMidiService::Bytes> FakeMidiService::Sent(const std::string& key) const {
  std::lock_guard lock(mutex_);
  auto it = sent_.find(key);
  return it == sent_.end() ? std::vector<Bytes>{} : it->second;
}

void FakeMidiService::ClearSent() {
  std::lock_guard lock(mutex_);
  sent_.clear();
}

int FakeMidiService::OpenInputCount() const {
  std::lock_guard lock(mutex_);
  return static_cast<int>(openInputs_.size());
}

int FakeMidiService::OpenOutputCount() const {
  std::lock_guard lock(mutex_);
  return static_cast<int>(openOutputs_.size());
}

bool FakeMidiService::IsInputOpen(const std::string& key) const {
  std::lock_guard lock(mutex_);
  return std::any_of(openInputs_.begin(), openInputs_.end(), [&](InPort* p) { return p->Key() == key; });
}

bool FakeMidiService::IsOutputOpen(const std::string& key) const {
  std::lock_guard lock(mutex_);
  return std::any_of(openOutputs_.begin(), openOutputs_.end(), [&](OutPort* p) { return p->Key() == key; });
}

std::vector<MidiPortId> FakeMidiService::List(const std::vector<Port>& list) {
  std::lock_guard lock(mutex_);
  if (!enumerationError_.empty()) throw EMidiError(enumerationError_);
  std::vector<MidiPortId> ports;
  if (!reachable_) return ports;
  for (const Port& port : list)
    if (!port.Removed) ports.push_back(MidiPortId{port.Name, port.Key});
  return ports;
}

void FakeMidiService::SetReachable(bool reachable) {
  std::lock_guard lock(mutex_);
  reachable_ = reachable;
}

bool FakeMidiService::Reachable() {
  std::lock_guard lock(mutex_);
  return reachable_;
}

std::vector<MidiPortId> FakeMidiService::Inputs() { return List(inputs_); }
std::vector<MidiPortId> FakeMidiService::Outputs() { return List(outputs_); }

std::unique_ptr<IMidiInPort> FakeMidiService::OpenInput(const MidiPortId& id, MidiBytesCallback callback) {
  std::lock_guard lock(mutex_);
  const Port* port = FindPort(inputs_, id.Key);
  if (port == nullptr || port->Removed) throw EMidiError("MIDI input \"" + id.Key + "\" is no longer available.");
  if (!port->OpenError.empty()) throw EMidiError(port->OpenError);
  auto in = std::make_unique<InPort>(*this, id.Key, std::move(callback));
  openInputs_.push_back(in.get());
  return in;
}

std::unique_ptr<IMidiOutPort> FakeMidiService::OpenOutput(const MidiPortId& id) {
  std::lock_guard lock(mutex_);
  const Port* port = FindPort(outputs_, id.Key);
  if (port == nullptr || port->Removed) throw EMidiError("MIDI output \"" + id.Key + "\" is no longer available.");
  if (!port->OpenError.empty()) throw EMidiError(port->OpenError);
  auto out = std::make_unique<OutPort>(*this, id.Key);
  openOutputs_.push_back(out.get());
  return out;
}

}  // namespace vlx

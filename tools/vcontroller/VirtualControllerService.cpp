#include "VirtualControllerService.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

namespace vlx {

namespace {

struct PortRec {
  MidiPortId Id;
  bool ToController = false;  // the controller's output port (what the editor sends on)
  bool Present = true;
  std::vector<MidiMessage> Sent;  // extra outputs only
};

struct InState {
  std::string Key;
  MidiBytesCallback Callback;
  bool Open = true;  // guarded by Core::mutex
};

struct Item {
  std::string Key;
  MidiMessage Bytes;
};

}  // namespace

class VirtualControllerService::Core : public std::enable_shared_from_this<VirtualControllerService::Core> {
 public:
  explicit Core(std::shared_ptr<VirtualController> controller) : controller_(std::move(controller)) {}

  std::shared_ptr<PortRec> NewPort(const std::string& name, bool toController) {
    auto p = std::make_shared<PortRec>();
    p->Id = MidiPortId{name, "virtual:" + std::to_string(serial_++) + ":" + name};
    p->ToController = toController;
    return p;
  }

  void Start() {
    // The thread keeps the core alive until it has ended.
    worker_ = std::thread([self = shared_from_this()] { self->Run(); });
  }

  void Stop() {
    {
      std::lock_guard lock(mutex_);
      if (stopping_) return;
      stopping_ = true;
      pending_ -= queue_.size();
      queue_.clear();
    }
    work_.notify_all();
    if (worker_.joinable()) {
      if (worker_.get_id() == std::this_thread::get_id()) {
        worker_.detach();  // destroyed from its own callback: it ends on return
      } else {
        worker_.join();
      }
    }
    changed_.notify_all();
  }

  static std::vector<MidiPortId> Ids(const std::vector<std::shared_ptr<PortRec>>& ports) {
    std::vector<MidiPortId> ids;
    for (const auto& p : ports) ids.push_back(p->Id);
    return ids;
  }

  static std::shared_ptr<PortRec> Find(const std::vector<std::shared_ptr<PortRec>>& ports, const MidiPortId& id) {
    for (const auto& p : ports) {
      if (id.Key.empty() ? p->Id.Name == id.Name : p->Id.Key == id.Key) return p;
    }
    return nullptr;
  }

  static void Insert(std::vector<std::shared_ptr<PortRec>>& ports, std::shared_ptr<PortRec> p, std::size_t pos) {
    pos = std::min(pos, ports.size());
    ports.insert(ports.begin() + static_cast<std::ptrdiff_t>(pos), std::move(p));
  }

  // Queues bytes for the open handles of input key (dropped when none is open).
  // Caller holds mutex_.
  void EnqueueLocked(const std::string& key, const MidiMessage& bytes, std::size_t chunkSize) {
    if (stopping_ || bytes.empty()) return;
    const bool anyOpen = std::any_of(open_.begin(), open_.end(), [&](const auto& h) { return h->Key == key; });
    if (!anyOpen) return;
    if (chunkSize == 0) chunkSize = bytes.size();
    for (std::size_t i = 0; i < bytes.size(); i += chunkSize) {
      const std::size_t n = std::min(chunkSize, bytes.size() - i);
      queue_.push_back(Item{key, MidiMessage(bytes.begin() + static_cast<std::ptrdiff_t>(i),
                                             bytes.begin() + static_cast<std::ptrdiff_t>(i + n))});
      ++pending_;
    }
    work_.notify_one();
  }

  bool OnWorker() const { return std::this_thread::get_id() == worker_.get_id(); }

  // Closes handles (all of key when h is null) and waits for a running
  // callback of theirs to end. Caller holds lock.
  template <class Pred>
  void CloseLocked(std::unique_lock<std::mutex>& lock, Pred match) {
    for (auto& h : open_) {
      if (match(*h)) h->Open = false;
    }
    std::erase_if(open_, [](const auto& h) { return !h->Open; });
    if (OnWorker()) return;  // called from a callback: it is the one running
    changed_.wait(lock, [&] { return busy_ == nullptr || busy_->Open; });
  }

  void Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
      work_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
      if (stopping_) return;
      Item item = std::move(queue_.front());
      queue_.pop_front();
      std::vector<std::shared_ptr<InState>> targets;
      for (const auto& h : open_) {
        if (h->Key == item.Key) targets.push_back(h);
      }
      for (const auto& h : targets) {
        if (!h->Open || !h->Callback || stopping_) continue;
        busy_ = h;
        lock.unlock();
        try {
          h->Callback(item.Bytes.data(), item.Bytes.size());
        } catch (...) {
          // A callback's failure must not end the service's thread.
        }
        lock.lock();
        busy_ = nullptr;
        changed_.notify_all();
      }
      if (pending_ > 0) --pending_;
      changed_.notify_all();
    }
  }

  std::mutex mutex_;
  std::condition_variable work_;     // the queue or stopping_ changed
  std::condition_variable changed_;  // a callback ended, an item was done
  std::shared_ptr<VirtualController> controller_;
  std::vector<std::shared_ptr<PortRec>> inputs_, outputs_;
  std::shared_ptr<PortRec> ctlIn_, ctlOut_;
  std::vector<std::shared_ptr<InState>> open_;
  std::deque<Item> queue_;
  std::size_t pending_ = 0;  // items queued or being delivered
  std::shared_ptr<InState> busy_;
  bool stopping_ = false;
  unsigned serial_ = 0;
  std::atomic<int> openOutputs_{0};
  std::mutex sendMutex_;  // keeps the controller's replies in the order of the sends
  std::thread worker_;
};

namespace {

class VirtualInPort : public IMidiInPort {
 public:
  VirtualInPort(std::shared_ptr<VirtualControllerService::Core> core, std::shared_ptr<InState> state)
      : core_(std::move(core)), state_(std::move(state)) {}
  ~VirtualInPort() override;

 private:
  std::shared_ptr<VirtualControllerService::Core> core_;
  std::shared_ptr<InState> state_;
};

class VirtualOutPort : public IMidiOutPort {
 public:
  VirtualOutPort(std::shared_ptr<VirtualControllerService::Core> core, std::shared_ptr<PortRec> port)
      : core_(std::move(core)), port_(std::move(port)) {
    ++core_->openOutputs_;
  }
  ~VirtualOutPort() override { --core_->openOutputs_; }
  void Send(const uint8_t* data, std::size_t size) override;

 private:
  std::shared_ptr<VirtualControllerService::Core> core_;
  std::shared_ptr<PortRec> port_;
};

}  // namespace

VirtualInPort::~VirtualInPort() {
  std::unique_lock lock(core_->mutex_);
  core_->CloseLocked(lock, [&](const InState& h) { return &h == state_.get(); });
}

void VirtualOutPort::Send(const uint8_t* data, std::size_t size) {
  auto& core = *core_;
  if (!port_->ToController) {
    std::lock_guard lock(core.mutex_);
    if (core.stopping_) throw EMidiError("the MIDI service has been shut down");
    if (!port_->Present) throw EMidiError("the port " + port_->Id.Name + " has gone");
    port_->Sent.emplace_back(data, data + size);
    return;
  }
  std::lock_guard order(core.sendMutex_);
  {
    std::lock_guard lock(core.mutex_);
    if (core.stopping_) throw EMidiError("the MIDI service has been shut down");
    if (!port_->Present) throw EMidiError("the port " + port_->Id.Name + " has gone");
  }
  std::vector<MidiMessage> replies = core.controller_->Receive(data, size);
  std::lock_guard lock(core.mutex_);
  if (!core.ctlIn_->Present) return;
  for (const MidiMessage& r : replies) core.EnqueueLocked(core.ctlIn_->Id.Key, r, 0);
}

VirtualControllerService::VirtualControllerService(std::shared_ptr<VirtualController> controller,
                                                   std::string portName)
    : controller_(controller ? std::move(controller) : std::make_shared<VirtualController>()),
      core_(std::make_shared<Core>(controller_)) {
  core_->ctlIn_ = core_->NewPort(portName, false);
  core_->ctlOut_ = core_->NewPort(portName, true);
  core_->inputs_.push_back(core_->ctlIn_);
  core_->outputs_.push_back(core_->ctlOut_);
  core_->Start();
}

VirtualControllerService::~VirtualControllerService() { core_->Stop(); }

MidiPortId VirtualControllerService::ControllerInput() const {
  std::lock_guard lock(core_->mutex_);
  return core_->ctlIn_->Id;
}

MidiPortId VirtualControllerService::ControllerOutput() const {
  std::lock_guard lock(core_->mutex_);
  return core_->ctlOut_->Id;
}

std::vector<MidiPortId> VirtualControllerService::Inputs() {
  std::lock_guard lock(core_->mutex_);
  return Core::Ids(core_->inputs_);
}

std::vector<MidiPortId> VirtualControllerService::Outputs() {
  std::lock_guard lock(core_->mutex_);
  return Core::Ids(core_->outputs_);
}

std::unique_ptr<IMidiInPort> VirtualControllerService::OpenInput(const MidiPortId& port, MidiBytesCallback callback) {
  std::lock_guard lock(core_->mutex_);
  auto p = Core::Find(core_->inputs_, port);
  if (!p) throw EMidiError("no MIDI input port \"" + port.Name + "\"");
  auto state = std::make_shared<InState>();
  state->Key = p->Id.Key;
  state->Callback = std::move(callback);
  core_->open_.push_back(state);
  return std::make_unique<VirtualInPort>(core_, std::move(state));
}

std::unique_ptr<IMidiOutPort> VirtualControllerService::OpenOutput(const MidiPortId& port) {
  std::lock_guard lock(core_->mutex_);
  auto p = Core::Find(core_->outputs_, port);
  if (!p) throw EMidiError("no MIDI output port \"" + port.Name + "\"");
  return std::make_unique<VirtualOutPort>(core_, std::move(p));
}

MidiPortId VirtualControllerService::AddInput(const std::string& name, std::size_t position) {
  std::lock_guard lock(core_->mutex_);
  auto p = core_->NewPort(name, false);
  Core::Insert(core_->inputs_, p, position);
  return p->Id;
}

MidiPortId VirtualControllerService::AddOutput(const std::string& name, std::size_t position) {
  std::lock_guard lock(core_->mutex_);
  auto p = core_->NewPort(name, false);
  Core::Insert(core_->outputs_, p, position);
  return p->Id;
}

std::vector<MidiMessage> VirtualControllerService::SentTo(const MidiPortId& port) const {
  std::lock_guard lock(core_->mutex_);
  auto p = Core::Find(core_->outputs_, port);
  return p ? p->Sent : std::vector<MidiMessage>{};
}

void VirtualControllerService::PlayShort(uint8_t status, uint8_t data1, uint8_t data2) {
  MidiMessage m = {status, data1};
  const uint8_t kind = status & 0xF0;
  if (kind != 0xC0 && kind != 0xD0) m.push_back(data2);
  PlayRaw(m);
}

void VirtualControllerService::PlayRaw(const MidiMessage& bytes, std::size_t chunkSize) {
  std::lock_guard lock(core_->mutex_);
  if (!core_->ctlIn_->Present) return;  // unplugged: there is nobody to play
  core_->EnqueueLocked(core_->ctlIn_->Id.Key, bytes, chunkSize);
}

void VirtualControllerService::PlayOn(const MidiPortId& port, const MidiMessage& bytes, std::size_t chunkSize) {
  std::lock_guard lock(core_->mutex_);
  auto p = Core::Find(core_->inputs_, port);
  if (!p) throw EMidiError("no MIDI input port \"" + port.Name + "\"");
  core_->EnqueueLocked(p->Id.Key, bytes, chunkSize);
}

void VirtualControllerService::Unplug() {
  std::unique_lock lock(core_->mutex_);
  Core& core = *core_;
  if (!core.ctlIn_->Present) return;
  core.ctlIn_->Present = false;
  core.ctlOut_->Present = false;
  std::erase(core.inputs_, core.ctlIn_);
  std::erase(core.outputs_, core.ctlOut_);
  const std::string key = core.ctlIn_->Id.Key;
  const std::size_t before = core.queue_.size();
  std::erase_if(core.queue_, [&](const Item& i) { return i.Key == key; });
  core.pending_ -= before - core.queue_.size();
  core.CloseLocked(lock, [&](const InState& h) { return h.Key == key; });
  core.changed_.notify_all();
}

bool VirtualControllerService::Plugged() const {
  std::lock_guard lock(core_->mutex_);
  return core_->ctlIn_->Present;
}

void VirtualControllerService::Plug(std::size_t position) {
  std::lock_guard lock(core_->mutex_);
  Core& core = *core_;
  if (core.ctlIn_->Present) return;
  const std::string name = core.ctlIn_->Id.Name;
  core.ctlIn_ = core.NewPort(name, false);
  core.ctlOut_ = core.NewPort(name, true);
  Core::Insert(core.inputs_, core.ctlIn_, position);
  Core::Insert(core.outputs_, core.ctlOut_, position);
}

int VirtualControllerService::OpenPortCount() const {
  std::lock_guard lock(core_->mutex_);
  return static_cast<int>(core_->open_.size()) + core_->openOutputs_.load();
}

void VirtualControllerService::WaitIdle() {
  std::unique_lock lock(core_->mutex_);
  if (core_->OnWorker()) return;
  core_->changed_.wait(lock, [&] { return core_->pending_ == 0 || core_->stopping_; });
}

}  // namespace vlx

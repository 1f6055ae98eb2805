#include "tools/jackpeer/JackPeer.h"

#include <jack/jack.h>
#include <jack/midiport.h>
#include <jack/ringbuffer.h>

#include <cstring>
#include <thread>
#include <utility>

namespace vlx {

namespace {

// A message in a ring buffer: its size, then its bytes.
using SizeField = uint32_t;

std::string ClientOf(const std::string& portName) { return portName.substr(0, portName.find(':')); }

}  // namespace

struct JackPeer::Jack {
  jack_client_t* client = nullptr;
  std::atomic<jack_port_t*> in{nullptr};
  std::atomic<jack_port_t*> out{nullptr};
  jack_ringbuffer_t* toJack = nullptr;    // written by Send, read by Process
  jack_ringbuffer_t* fromJack = nullptr;  // written by Process, read by Drain
  std::mutex lifeMutex;                   // Close/RemovePorts against each other and the queries

  ~Jack() {
    if (toJack) jack_ringbuffer_free(toJack);
    if (fromJack) jack_ringbuffer_free(fromJack);
  }
};

JackPeer::JackPeer(Options options) : options_(std::move(options)), jack_(std::make_unique<Jack>()) {
  jack_->toJack = jack_ringbuffer_create(options_.BufferBytes);
  jack_->fromJack = jack_ringbuffer_create(options_.BufferBytes);
  if (!jack_->toJack || !jack_->fromJack) throw std::runtime_error("JackPeer: no memory for the ring buffers");

  jack_status_t status{};
  int flags = JackNoStartServer;
  if (!options_.ServerName.empty()) flags |= JackServerName;
  jack_->client = jack_client_open(options_.ClientName.c_str(), static_cast<jack_options_t>(flags), &status,
                                   options_.ServerName.c_str());
  if (jack_->client == nullptr)
    throw std::runtime_error("JackPeer: cannot open JACK client \"" + options_.ClientName +
                             "\" (status 0x" + std::to_string(status) + "); is the JACK server running?");
  clientName_ = jack_get_client_name(jack_->client);

  jack_->in = jack_port_register(jack_->client, options_.InPort.c_str(), JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
  jack_->out =
      jack_port_register(jack_->client, options_.OutPort.c_str(), JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
  if (jack_->in == nullptr || jack_->out == nullptr) {
    Close();
    throw std::runtime_error("JackPeer: cannot register the MIDI ports of \"" + clientName_ + "\"");
  }
  jack_set_process_callback(jack_->client, &JackPeer::Process, this);
  jack_on_shutdown(jack_->client, &JackPeer::Shutdown, this);
  if (jack_activate(jack_->client) != 0) {
    Close();
    throw std::runtime_error("JackPeer: cannot activate JACK client \"" + clientName_ + "\"");
  }
}

JackPeer::JackPeer() : JackPeer(Options{}) {}

JackPeer::~JackPeer() { Close(); }

// The real-time side: no lock, no allocation.
int JackPeer::Process(uint32_t frames, void* self) {
  auto& peer = *static_cast<JackPeer*>(self);
  Jack& jack = *peer.jack_;

  if (jack_port_t* in = jack.in.load()) {
    void* buffer = jack_port_get_buffer(in, frames);
    const uint32_t count = jack_midi_get_event_count(buffer);
    for (uint32_t i = 0; i < count; ++i) {
      jack_midi_event_t event;
      if (jack_midi_event_get(&event, buffer, i) != 0) continue;
      const SizeField size = static_cast<SizeField>(event.size);
      if (jack_ringbuffer_write_space(jack.fromJack) < sizeof size + size) {
        ++peer.dropped_;
        continue;
      }
      jack_ringbuffer_write(jack.fromJack, reinterpret_cast<const char*>(&size), sizeof size);
      jack_ringbuffer_write(jack.fromJack, reinterpret_cast<const char*>(event.buffer), size);
    }
  }

  if (jack_port_t* out = jack.out.load()) {
    void* buffer = jack_port_get_buffer(out, frames);
    jack_midi_clear_buffer(buffer);
    for (;;) {
      SizeField size = 0;
      const std::size_t available = jack_ringbuffer_read_space(jack.toJack);
      if (available < sizeof size) break;
      jack_ringbuffer_peek(jack.toJack, reinterpret_cast<char*>(&size), sizeof size);
      if (available < sizeof size + size) break;  // not all written yet
      jack_midi_data_t* place = jack_midi_event_reserve(buffer, 0, size);
      if (place == nullptr) break;  // this cycle is full: the next one
      jack_ringbuffer_read_advance(jack.toJack, sizeof size);
      jack_ringbuffer_read(jack.toJack, reinterpret_cast<char*>(place), size);
    }
  }
  return 0;
}

void JackPeer::Shutdown(void* self) { static_cast<JackPeer*>(self)->serverGone_ = true; }

std::string JackPeer::InPortName() const {
  jack_port_t* port = jack_->in.load();
  return port ? jack_port_name(port) : std::string();
}

std::string JackPeer::OutPortName() const {
  jack_port_t* port = jack_->out.load();
  return port ? jack_port_name(port) : std::string();
}

bool JackPeer::Send(const Bytes& bytes) {
  std::lock_guard lock(sendMutex_);
  jack_port_t* out = jack_->out.load();
  if (out == nullptr || bytes.empty() || serverGone_) return false;
  if (bytes.size() > jack_port_type_get_buffer_size(jack_->client, JACK_DEFAULT_MIDI_TYPE)) return false;
  const SizeField size = static_cast<SizeField>(bytes.size());
  if (jack_ringbuffer_write_space(jack_->toJack) < sizeof size + size) return false;
  // Process takes a message only once all of it is there.
  jack_ringbuffer_write(jack_->toJack, reinterpret_cast<const char*>(&size), sizeof size);
  jack_ringbuffer_write(jack_->toJack, reinterpret_cast<const char*>(bytes.data()), size);
  return true;
}

bool JackPeer::WaitSent(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (jack_ringbuffer_read_space(jack_->toJack) == 0) return true;
    if (std::chrono::steady_clock::now() >= deadline || serverGone_ || !jack_->out.load()) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void JackPeer::Drain() {
  for (;;) {
    SizeField size = 0;
    const std::size_t available = jack_ringbuffer_read_space(jack_->fromJack);
    if (available < sizeof size) return;
    jack_ringbuffer_peek(jack_->fromJack, reinterpret_cast<char*>(&size), sizeof size);
    if (available < sizeof size + size) return;
    jack_ringbuffer_read_advance(jack_->fromJack, sizeof size);
    Bytes event(size);
    jack_ringbuffer_read(jack_->fromJack, reinterpret_cast<char*>(event.data()), size);
    received_.push_back(std::move(event));
  }
}

std::vector<JackPeer::Bytes> JackPeer::Received() {
  std::lock_guard lock(receiveMutex_);
  Drain();
  return received_;
}

std::vector<JackPeer::Bytes> JackPeer::TakeReceived() {
  std::lock_guard lock(receiveMutex_);
  Drain();
  return std::exchange(received_, {});
}

void JackPeer::ClearReceived() { TakeReceived(); }

bool JackPeer::WaitForEvents(std::size_t count, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    {
      std::lock_guard lock(receiveMutex_);
      Drain();
      if (received_.size() >= count) return true;
    }
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

std::vector<std::string> JackPeer::FindPorts(const std::string& clientPrefix, bool outputs) const {
  std::lock_guard life(jack_->lifeMutex);
  std::vector<std::string> found;
  if (jack_->client == nullptr) return found;
  const char** ports = jack_get_ports(jack_->client, nullptr, JACK_DEFAULT_MIDI_TYPE,
                                      outputs ? JackPortIsOutput : JackPortIsInput);
  if (ports == nullptr) return found;
  for (const char** p = ports; *p != nullptr; ++p) {
    const std::string name = *p;
    const std::string client = ClientOf(name);
    if (client != clientName_ && client.compare(0, clientPrefix.size(), clientPrefix) == 0) found.push_back(name);
  }
  jack_free(ports);
  return found;
}

int JackPeer::ConnectFrom(const std::string& clientPrefix) {
  const std::string ours = InPortName();
  if (ours.empty()) return 0;
  for (const std::string& theirs : FindPorts(clientPrefix, true)) jack_connect(jack_->client, theirs.c_str(), ours.c_str());
  return InConnections();
}

int JackPeer::ConnectTo(const std::string& clientPrefix) {
  const std::string ours = OutPortName();
  if (ours.empty()) return 0;
  for (const std::string& theirs : FindPorts(clientPrefix, false)) jack_connect(jack_->client, ours.c_str(), theirs.c_str());
  return OutConnections();
}

int JackPeer::InConnections() const {
  jack_port_t* port = jack_->in.load();
  return port ? jack_port_connected(port) : 0;
}

int JackPeer::OutConnections() const {
  jack_port_t* port = jack_->out.load();
  return port ? jack_port_connected(port) : 0;
}

void JackPeer::RemovePorts() {
  std::lock_guard life(jack_->lifeMutex);
  if (jack_->client == nullptr || (!jack_->in.load() && !jack_->out.load())) return;
  // Deactivating waits for a running process cycle; then the ports can go.
  jack_deactivate(jack_->client);
  std::lock_guard send(sendMutex_);
  if (jack_port_t* in = jack_->in.exchange(nullptr)) jack_port_unregister(jack_->client, in);
  if (jack_port_t* out = jack_->out.exchange(nullptr)) jack_port_unregister(jack_->client, out);
  jack_activate(jack_->client);
}

bool JackPeer::AddPorts() {
  std::lock_guard life(jack_->lifeMutex);
  if (jack_->client == nullptr) return false;
  if (jack_->in.load() && jack_->out.load()) return true;
  jack_deactivate(jack_->client);
  std::lock_guard send(sendMutex_);
  if (!jack_->in.load())
    jack_->in = jack_port_register(jack_->client, options_.InPort.c_str(), JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
  if (!jack_->out.load())
    jack_->out =
        jack_port_register(jack_->client, options_.OutPort.c_str(), JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
  const bool ok = jack_->in.load() && jack_->out.load();
  jack_activate(jack_->client);
  return ok;
}

void JackPeer::Close() {
  std::lock_guard life(jack_->lifeMutex);
  if (jack_->client == nullptr) return;
  jack_deactivate(jack_->client);
  std::lock_guard send(sendMutex_);
  jack_->in = nullptr;
  jack_->out = nullptr;
  jack_client_close(jack_->client);
  jack_->client = nullptr;
}

bool JackPeer::IsOpen() const {
  std::lock_guard life(jack_->lifeMutex);
  return jack_->client != nullptr;
}

}  // namespace vlx

#include "AlsaVirtualController.h"

#include <alsa/asoundlib.h>

#include <chrono>
#include <mutex>
#include <stdexcept>
#include <utility>

namespace vlx {

namespace {

// The bytes of one sequencer event: a SysEx event's data as it is, any other
// event through libasound's decoder. Empty for events that are no MIDI bytes
// (port and client announcements).
AlsaVirtualController::Bytes EventBytes(const snd_seq_event_t* ev) {
  if (ev->type == SND_SEQ_EVENT_SYSEX) {
    const auto* p = static_cast<const uint8_t*>(ev->data.ext.ptr);
    return {p, p + ev->data.ext.len};
  }
  snd_midi_event_t* decoder = nullptr;
  if (snd_midi_event_new(16, &decoder) < 0) return {};
  snd_midi_event_no_status(decoder, 1);  // every message with its status byte
  unsigned char buffer[16];
  const long n = snd_midi_event_decode(decoder, buffer, sizeof buffer, ev);
  snd_midi_event_free(decoder);
  if (n <= 0) return {};
  return {buffer, buffer + n};
}

}  // namespace

AlsaVirtualController::AlsaVirtualController(std::shared_ptr<VirtualController> controller, Options options)
    : controller_(controller ? std::move(controller) : std::make_shared<VirtualController>()),
      options_(std::move(options)),
      sysExPiece_(options_.SysExPiece) {
  {
    std::lock_guard lock(mutex_);
    if (!Open()) throw std::runtime_error("the ALSA sequencer cannot be opened (is the snd-seq module loaded?)");
  }
  thread_ = std::thread([this] { Run(); });
}

AlsaVirtualController::~AlsaVirtualController() {
  stop_ = true;
  thread_.join();
  std::lock_guard lock(mutex_);
  Close();
}

namespace {
// libasound would write its own line ("ALSA lib seq_hw.c:...") to stderr for
// a sequencer that cannot be opened; the program says so itself.
void QuietAlsaMessage(const char*, int, const char*, int, const char*, ...) {}
}  // namespace

bool AlsaVirtualController::Open() {
  if (seq_) return true;
  static std::once_flag quiet;
  std::call_once(quiet, [] { snd_lib_error_set_handler(&QuietAlsaMessage); });
  snd_seq_t* seq = nullptr;
  if (snd_seq_open(&seq, "default", SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK) < 0) return false;
  snd_seq_set_client_name(seq, options_.ClientName.c_str());
  // Room for a whole dump or a long SysEx in the kernel's input queue.
  snd_seq_set_client_pool_input(seq, 2000);
  const int port = snd_seq_create_simple_port(
      seq, options_.PortName.c_str(),
      SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ | SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE |
          SND_SEQ_PORT_CAP_DUPLEX,
      SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_HARDWARE | SND_SEQ_PORT_TYPE_PORT);
  if (port < 0) {
    snd_seq_close(seq);
    return false;
  }
  seq_ = seq;
  port_ = port;
  clientId_ = snd_seq_client_id(seq);
  return true;
}

void AlsaVirtualController::Close() {
  if (!seq_) return;
  snd_seq_close(seq_);
  seq_ = nullptr;
  port_ = -1;
  clientId_ = -1;
}

int AlsaVirtualController::OutConnections() {
  std::lock_guard lock(mutex_);
  if (!seq_) return 0;
  snd_seq_query_subscribe_t* query = nullptr;
  snd_seq_query_subscribe_alloca(&query);
  snd_seq_addr_t root{static_cast<unsigned char>(clientId_.load()), static_cast<unsigned char>(port_)};
  snd_seq_query_subscribe_set_root(query, &root);
  snd_seq_query_subscribe_set_type(query, SND_SEQ_QUERY_SUBS_READ);
  snd_seq_query_subscribe_set_index(query, 0);
  int count = 0;
  while (snd_seq_query_port_subscribers(seq_, query) >= 0) {
    ++count;
    snd_seq_query_subscribe_set_index(query, snd_seq_query_subscribe_get_index(query) + 1);
  }
  return count;
}

bool AlsaVirtualController::Play(const Bytes& bytes) {
  std::lock_guard lock(mutex_);
  return SendLocked(bytes);
}

bool AlsaVirtualController::SendLocked(const Bytes& bytes) {
  if (!seq_ || bytes.empty()) return false;
  // Each event is written out before the next; a full output pool is waited
  // for (bounded), never dropped.
  const auto output = [&](snd_seq_event_t& ev) {
    snd_seq_ev_set_source(&ev, static_cast<unsigned char>(port_));
    snd_seq_ev_set_subs(&ev);
    snd_seq_ev_set_direct(&ev);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    for (;;) {
      const int rc = snd_seq_event_output_direct(seq_, &ev);
      if (rc >= 0) return true;
      if (rc != -EAGAIN || std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  };
  if (bytes[0] == 0xF0) {
    const std::size_t piece = sysExPiece_ ? sysExPiece_.load() : bytes.size();
    for (std::size_t at = 0; at < bytes.size(); at += piece) {
      snd_seq_event_t ev;
      snd_seq_ev_clear(&ev);
      const std::size_t n = std::min(piece, bytes.size() - at);
      snd_seq_ev_set_sysex(&ev, static_cast<unsigned int>(n), const_cast<uint8_t*>(bytes.data() + at));
      if (!output(ev)) return false;
    }
    return true;
  }
  snd_midi_event_t* encoder = nullptr;
  if (snd_midi_event_new(16, &encoder) < 0) return false;
  bool ok = true, any = false;
  for (const uint8_t b : bytes) {
    snd_seq_event_t ev;
    snd_seq_ev_clear(&ev);
    if (snd_midi_event_encode_byte(encoder, b, &ev) == 1 && ev.type != SND_SEQ_EVENT_NONE) {
      any = true;
      if (!output(ev)) {
        ok = false;
        break;
      }
    }
  }
  snd_midi_event_free(encoder);
  return ok && any;
}

void AlsaVirtualController::Unplug() {
  std::lock_guard lock(mutex_);
  Close();
}

bool AlsaVirtualController::Plug() {
  std::lock_guard lock(mutex_);
  return Open();
}

std::vector<AlsaVirtualController::Bytes> AlsaVirtualController::Raw() {
  std::lock_guard lock(mutex_);
  return {raw_.begin(), raw_.end()};
}

void AlsaVirtualController::ClearRaw() {
  std::lock_guard lock(mutex_);
  raw_.clear();
}

void AlsaVirtualController::Run() {
  using namespace std::chrono_literals;
  while (!stop_) {
    std::vector<Bytes> events;
    {
      std::unique_lock lock(mutex_);
      if (seq_) {
        pollfd fds[4];
        const int n = snd_seq_poll_descriptors(seq_, fds, 4, POLLIN);
        lock.unlock();
        // The client is only closed under the lock; poll on its descriptor
        // may see it closed and return at once, which the next turn notices.
        ::poll(fds, static_cast<nfds_t>(n), 20);
        lock.lock();
        while (seq_) {
          snd_seq_event_t* ev = nullptr;
          const int rc = snd_seq_event_input(seq_, &ev);
          if (rc == -ENOSPC) continue;  // the input queue overran; what is left is read on
          if (rc < 0 || ev == nullptr) break;
          Bytes bytes = EventBytes(ev);
          if (bytes.empty()) continue;
          if (options_.RawLogSize > 0) {
            raw_.push_back(bytes);
            if (raw_.size() > options_.RawLogSize) raw_.pop_front();
          }
          events.push_back(std::move(bytes));
        }
      }
    }
    if (events.empty()) {
      if (clientId_ < 0) std::this_thread::sleep_for(20ms);  // unplugged
      continue;
    }
    for (const Bytes& event : events) {
      for (const MidiMessage& reply : controller_->Receive(event)) {
        std::lock_guard lock(mutex_);
        if (!SendLocked(reply)) ++lostReplies_;
      }
    }
  }
}

}  // namespace vlx

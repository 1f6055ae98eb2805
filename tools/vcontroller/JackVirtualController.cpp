#include "JackVirtualController.h"

#include <chrono>
#include <utility>

namespace vlx {

namespace {

JackPeer::Options PeerOptions(const JackVirtualController::Options& options) {
  JackPeer::Options o;
  o.ClientName = options.ClientName;
  o.ServerName = options.ServerName;
  return o;
}

}  // namespace

JackVirtualController::JackVirtualController(std::shared_ptr<VirtualController> controller, Options options)
    : controller_(controller ? std::move(controller) : std::make_shared<VirtualController>()),
      peer_(PeerOptions(options)),
      thread_([this] { Run(); }) {}

JackVirtualController::~JackVirtualController() {
  stop_ = true;
  thread_.join();
  peer_.Close();
}

bool JackVirtualController::Play(const MidiMessage& bytes) { return peer_.Send(bytes); }

void JackVirtualController::Unplug() { peer_.RemovePorts(); }

bool JackVirtualController::Plug() { return peer_.AddPorts(); }

void JackVirtualController::Run() {
  using namespace std::chrono_literals;
  while (!stop_) {
    if (!peer_.WaitForEvents(1, 20ms)) continue;
    for (const JackPeer::Bytes& event : peer_.TakeReceived()) {
      for (const MidiMessage& reply : controller_->Receive(event)) {
        if (!peer_.Send(reply)) ++lostReplies_;
      }
    }
  }
}

}  // namespace vlx

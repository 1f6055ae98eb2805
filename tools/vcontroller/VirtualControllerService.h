// An in-process MIDI service with a virtual controller plugged in: one input
// and one output port, both of the client "vellox". What is sent on the
// output port goes into the controller; the controller's replies, and
// whatever is played, reach the callbacks of the open input port on the
// service's own delivery thread, in order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "VirtualController.h"
#include "midi/MidiService.h"

namespace vlx {

class VirtualControllerService : public IMidiService {
 public:
  static constexpr std::size_t End = static_cast<std::size_t>(-1);

  // portName is the name of the controller's two ports.
  explicit VirtualControllerService(std::shared_ptr<VirtualController> controller = nullptr,
                                    std::string portName = "vellox");
  // Stops the delivery thread; callbacks still running finish first. Port
  // handles may outlive the service: they then deliver nothing and their
  // Send throws EMidiError.
  ~VirtualControllerService() override;

  VirtualControllerService(const VirtualControllerService&) = delete;
  VirtualControllerService& operator=(const VirtualControllerService&) = delete;

  VirtualController& Controller() { return *controller_; }
  std::shared_ptr<VirtualController> SharedController() const { return controller_; }

  // The controller's ports now (valid names even after Unplug; new ones
  // after Plug).
  MidiPortId ControllerInput() const;
  MidiPortId ControllerOutput() const;

  std::vector<MidiPortId> Inputs() override;
  std::vector<MidiPortId> Outputs() override;
  std::unique_ptr<IMidiInPort> OpenInput(const MidiPortId& port, MidiBytesCallback callback) override;
  std::unique_ptr<IMidiOutPort> OpenOutput(const MidiPortId& port) override;

  // Ports of some other client, connected to nothing, inserted at position
  // (End: after the others). Bytes played on an extra input reach its
  // callbacks; what is sent on an extra output is kept (SentTo).
  MidiPortId AddInput(const std::string& name, std::size_t position = End);
  MidiPortId AddOutput(const std::string& name, std::size_t position = End);
  // Everything sent on an output port, one entry per Send, oldest first.
  std::vector<MidiMessage> SentTo(const MidiPortId& port) const;

  // The controller sends a short message (status and one or two data bytes).
  void PlayShort(uint8_t status, uint8_t data1, uint8_t data2 = 0);
  // The controller's input port delivers bytes as they are (nothing is
  // checked), in pieces of at most chunkSize bytes (0: in one piece).
  void PlayRaw(const MidiMessage& bytes, std::size_t chunkSize = 0);
  // The same on any input port; throws EMidiError when it does not exist.
  void PlayOn(const MidiPortId& port, const MidiMessage& bytes, std::size_t chunkSize = 0);

  // The controller is unplugged: its ports leave the lists, open handles on
  // them deliver nothing more (no callback of theirs runs once Unplug has
  // returned, unless Unplug is called from such a callback), and sending on
  // them throws EMidiError. Pending deliveries to them are dropped.
  void Unplug();
  bool Plugged() const;
  // The controller is plugged in again: its two ports come back as new
  // ports (new keys, so a handle of the old ones stays dead), inserted at
  // position in each list (End: after the others). No-op while plugged.
  void Plug(std::size_t position = End);

  // Ports opened on this service and not yet closed (inputs and outputs).
  int OpenPortCount() const;

  // Blocks until everything queued so far has been delivered (or dropped).
  // Must not be called from a callback.
  void WaitIdle();

  class Core;

 private:
  std::shared_ptr<VirtualController> controller_;
  std::shared_ptr<Core> core_;
};

}  // namespace vlx

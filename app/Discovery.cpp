// Finding the controller at start-up and tracking whether it is connected;
// while it is not, watching for it to be plugged in (again).
#include <QLocale>

#include "app/Unit1.h"
#include "session/ControllerPorts.h"

namespace {

const QColor DisconnectColour(0xFF, 0x00, 0x00);
const QColor ConnectColour(0x00, 0xFF, 0x00);

// Ports with an index beyond the flag arrays are opened and ticked like the
// others but not recorded: they get no identity request at start-up and are
// closed by the exit sequence with every other port still open.
void Record(std::array<int32_t, 11>& flags, int index) {
  if (index >= 0 && index < static_cast<int>(flags.size())) flags[index] = 1;
}

std::vector<std::string> Names(const TCheckListBox& list) {
  std::vector<std::string> names;
  for (int i = 0; i < list.count(); ++i) names.push_back(list.ItemText(i).toStdString());
  return names;
}

// The tool tip of the connection state says what stands between the editor
// and the controller; it changes nothing the window shows.
void ShowCause(TForm1& w, vlx::ControllerCause cause) {
  w.LbConnect->setToolTip(QString::fromStdString(vlx::ControllerCauseText(cause)));
}

// Without any input port, whether there is no MIDI service at all.
vlx::ControllerCause NoInputCause(TForm1& w) {
  try {
    if (!w.Midi().Service().Reachable()) return vlx::ControllerCause::NoMidiService;
  } catch (const std::exception&) {
    return vlx::ControllerCause::NoMidiService;
  }
  return vlx::ControllerCause::NoInputPort;
}

// What the re-plug watcher sees in the port lists: Found when a port of the
// controller's names is listed in both directions.
vlx::ControllerCause ListedCause(TForm1& w) {
  std::vector<vlx::MidiPortId> inputs, outputs;
  try {
    inputs = w.Midi().Service().Inputs();
    if (inputs.empty()) return NoInputCause(w);  // discovery needs an input port
    outputs = w.Midi().Service().Outputs();
  } catch (const std::exception&) {
    return vlx::ControllerCause::NoMidiService;  // the service cannot tell now; the next tick asks again
  }
  const auto matches = [](const std::vector<vlx::MidiPortId>& ports) {
    for (const vlx::MidiPortId& p : ports)
      if (vlx::IsControllerPortName(p.Name)) return true;
    return false;
  };
  // Both directions: JACK registers a client's ports one after the other,
  // and discovery run between the two would find no way to the controller.
  return matches(inputs) && matches(outputs) ? vlx::ControllerCause::Found : vlx::ControllerCause::NoControllerPort;
}

}  // namespace

void TForm1::Discovery() {
  // 1 - 3. An input port at all, then the controller's USB device id; and
  // the ports of the controller's names (the choice opens nothing).
  const vlx::TPortChoice choice =
      vlx::ChooseControllerPorts(Names(*lbxInputDevices), Names(*lbxOutputDevices), [this] {
        HubFound = 0;
        if (services_.UsbDevicePresent && services_.UsbDevicePresent()) HubFound = 1;
        return HubFound == 1;
      });
  if (choice.Cause == vlx::ControllerCause::NoInputPort || choice.Cause == vlx::ControllerCause::NoUsbDevice) {
    CloseState();
    ShowCause(*this, choice.Cause == vlx::ControllerCause::NoInputPort ? NoInputCause(*this) : choice.Cause);
    return;
  }

  // 4. The receive handlers, before any input port is opened.
  InputPorts().OnMidiData = [this](int32_t port, uint8_t status, uint8_t data1, uint8_t data2) {
    MidiDataReceived(port, status, data1, data2);
  };
  InputPorts().OnSysExData = [this](int32_t port, vlx::TByteStream& stream) { SysExReceived(port, stream); };

  // 5, 6. The first output named "vellox".
  DiscoveryMode = 0;
  if (choice.Mode == 1) {
    const int i = choice.Outputs.front();
    DevicePort = i;
    DiscoveryMode = 1;
    // Recorded once open: a port that failed to open is not closed at exit.
    OutputPorts().Open(i);
    Record(OutputOpened, i);
    lbxOutputDevices->SetChecked(i, true);
  }

  // 7, 8. Inputs of the same name, or every port whose name begins with "USB".
  UsbPortCount = 0;
  if (DiscoveryMode == 0) {
    for (const int i : choice.Outputs) {
      DevicePort = i;
      ++UsbPortCount;
      OutputPorts().Open(i);
      Record(OutputOpened, i);
      lbxOutputDevices->SetChecked(i, true);
      DiscoveryMode = 2;
    }
    for (const int i : choice.Inputs) {
      InputPorts().Open(i);
      Record(InputOpened, i);
      lbxInputDevices->SetChecked(i, true);
      DiscoveryMode = 2;
    }
  } else {
    for (const int i : choice.Inputs) {
      InputPorts().Open(i);
      lbxInputDevices->SetChecked(i, true);
      Record(InputOpened, i);
    }
  }

  // 9. The identity request.
  if (UsbPortCount > 0) {
    for (int i = 0; i <= 5; ++i)
      if (OutputOpened[i] == 1) OutputPorts().SendSysEx(i, vlx::IdentityRequestText);
    Timer3->start();
  } else if (DiscoveryMode == 1) {
    OutputPorts().SendSysEx(DevicePort, vlx::IdentityRequestText);
    Timer3->start();
  }

  // 10.
  LbUSBNum->setText(QString::number(DevicePort.load()));
  ShowCause(*this, Timer3->isActive() ? vlx::ControllerCause::Found : vlx::ControllerCause::NoControllerPort);
}

void TForm1::CloseState() {
  LbConnect->SetFontColor(DisconnectColour);
  LbConnect->setText("Disconnect");
  DeviceOffline = 1;
  StartWatching();
}

void TForm1::Timer3Timer() {
  if (UsbPortCount == 1) {
    OutputPorts().SendSysEx(DevicePort, vlx::IdentityRequestText);
  } else if (UsbPortCount >= 2) {
    OutputPorts().SendSysEx(PollTicks % 2 == 1 ? 0 : 1, vlx::IdentityRequestText);
  } else if (DiscoveryMode == 1) {
    OutputPorts().SendSysEx(DevicePort, vlx::IdentityRequestText);
  }

  {
    std::lock_guard<std::recursive_mutex> lock(SysExLock);
    if (vlx::IsIdentityReply(RxTokens)) {
      const int32_t n = vlx::FirmwareVersion(RxTokens);
      LbVersions->setText(QString("FW: V%1%2%3")
                              .arg(n / 100)
                              .arg(QLocale().decimalPoint())
                              .arg(n % 100, 2, 10, QChar('0')));
      RxTokens[1].clear();  // the same reply is not recognised again
      Timer3->stop();
      LbConnect->setText("Connect");
      LbConnect->SetFontColor(ConnectColour);
      ShowCause(*this, vlx::ControllerCause::Connected);
    }
  }

  ++PollTicks;
  if (PollTicks > 6 && Timer3->isActive()) {
    Timer3->stop();
    ShowCause(*this, vlx::ControllerCause::NoAnswer);
  }
}

void TForm1::ChooseDevicePortFromReply() {
  std::lock_guard<std::recursive_mutex> lock(SysExLock);
  if (DiscoveryMode != 2) return;
  // The port lists change only while no port is open (Rediscover), never
  // under a callback, so their names are read here instead of the check
  // lists, which belong to the window's thread.
  vlx::TMidiInput& in = InputPorts();
  if (SysExPortIndex < 0 || SysExPortIndex >= in.Count()) return;
  vlx::TMidiOutput& out = OutputPorts();
  std::vector<std::string> outputs;
  for (int32_t i = 0; i < out.Count(); ++i) outputs.push_back(out.Name(i));
  DevicePort = vlx::OutputOfAnsweringInput(outputs, in.Name(SysExPortIndex), DevicePort);
}

void TForm1::TimerCheckUSBTimer() {
  const int32_t result = Midi().ProbeInputDevice();
  if (result == vlx::BadDeviceId && DeviceOffline == 0) {
    LbVersions->clear();
    LbConnect->setText("Disconnect");
    LbConnect->SetFontColor(DisconnectColour);
    DeviceOffline = 1;
    TimerCheckUSB->stop();
    ShowCause(*this, vlx::ControllerCause::NoInputPort);
    // The next plug-in opens the controller's ports afresh.
    CloseDevicePorts();
    StartWatching();
  }
}

// ---- following the controller while it is away

void TForm1::StartWatching() {
  if (TimerReplug == nullptr) {
    TimerReplug = new QTimer(this);
    TimerReplug->setObjectName("TimerReplug");
    TimerReplug->setInterval(1000);  // the cadence of the presence probe
    connect(TimerReplug, &QTimer::timeout, this, [this] { Guarded([this] { TimerReplugTimer(); }); });
  }
  if (!TimerReplug->isActive()) TimerReplug->start();
}

bool TForm1::ControllerListed() { return ListedCause(*this) == vlx::ControllerCause::Found; }

void TForm1::TimerReplugTimer() {
  if (DeviceOffline == 0) {
    TimerReplug->stop();
    return;
  }
  if (rediscovering_) return;
  // The port lists first: they are what changes when a controller comes.
  // The USB check (a few microseconds) tells the user what is missing, and
  // lets discovery run only once the controller is on USB too.
  const vlx::ControllerCause listed = ListedCause(*this);
  if (listed == vlx::ControllerCause::NoMidiService || listed == vlx::ControllerCause::NoInputPort) {
    ShowCause(*this, listed);
    return;
  }
  const bool usb = services_.UsbDevicePresent && services_.UsbDevicePresent();
  if (!usb || listed != vlx::ControllerCause::Found) {
    ShowCause(*this, usb ? listed : vlx::ControllerCause::NoUsbDevice);
    return;
  }
  Rediscover();
}

void TForm1::CloseDevicePorts() {
  vlx::TMidiInput& in = InputPorts();
  for (int32_t i = 0; i < in.Count(); ++i) {
    if (!in.IsOpen(i)) continue;
    in.Close(i);  // no callback of the port runs once it has returned
    lbxInputDevices->SetChecked(i, false);
  }
  vlx::TMidiOutput& out = OutputPorts();
  for (int32_t i = 0; i < out.Count(); ++i) {
    if (!out.IsOpen(i)) continue;
    out.Close(i);
    lbxOutputDevices->SetChecked(i, false);
  }
  InputOpened.fill(0);
  OutputOpened.fill(0);
}

void TForm1::RenewPortLists() {
  // Every port is closed, so no callback can reach the lists while they go.
  Midi().Release();
  lbxInputDevices->clear();
  lbxOutputDevices->clear();
  for (int32_t i = 0; i < InputPorts().Count(); ++i)
    lbxInputDevices->AddItem(QString::fromStdString(InputPorts().Name(i)));
  for (int32_t i = 0; i < OutputPorts().Count(); ++i)
    lbxOutputDevices->AddItem(QString::fromStdString(OutputPorts().Name(i)));
}

void TForm1::Rediscover() {
  rediscovering_ = true;
  struct Done {
    bool& flag;
    ~Done() { flag = false; }
  } done{rediscovering_};

  // Whatever was waiting for the controller that went ends silently, as a
  // time-out does.
  Timer3->stop();
  TimerSyncPC->stop();
  TimerSyncFW->stop();
  try {
    CloseDevicePorts();
    DiscoveryMode = 0;
    DevicePort = 0;
    UsbPortCount = 0;
    HubFound = 0;
    PollTicks = 0;
    {
      std::lock_guard<std::recursive_mutex> lock(SysExLock);
      RxTokens = vlx::TRxTokens{};  // no reply of the controller that went
      SysExPortIndex = 0;
    }
    RenewPortLists();
    Midi().ProbeInputDevice();  // lets sends through again
    DeviceOffline = 0;
    Discovery();
  } catch (const std::exception&) {
    // The controller went again while its ports were being opened: back to
    // the disconnected state without a word, and the next tick tries again.
    Timer3->stop();
    try {
      CloseDevicePorts();
    } catch (const std::exception&) {
    }
    CloseState();
    return;
  }
  if (DeviceOffline == 1) return;  // discovery did not find it after all: still watching
  TimerReplug->stop();
  TimerCheckUSB->start();
}

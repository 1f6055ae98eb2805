// Finding the controller at start-up and tracking whether it is connected;
// while it is not, watching for it to be plugged in (again).
#include <QLocale>

#include "app/Unit1.h"

namespace {

constexpr const char* ControllerPortName = "vellox";
constexpr const char* FallbackPrefix = "USB";
const QColor DisconnectColour(0xFF, 0x00, 0x00);
const QColor ConnectColour(0x00, 0xFF, 0x00);

// Ports with an index beyond the flag arrays are opened and ticked like the
// others but not recorded: they get no identity request at start-up and are
// closed by the exit sequence with every other port still open.
void Record(std::array<int32_t, 11>& flags, int index) {
  if (index >= 0 && index < static_cast<int>(flags.size())) flags[index] = 1;
}

bool IsFallbackName(const QString& name) { return name.left(3) == FallbackPrefix; }

}  // namespace

void TForm1::Discovery() {
  // 1. No input port at all: no controller.
  if (InputPorts().Count() == 0) {
    CloseState();
    return;
  }

  // 2, 3. The controller's USB device id.
  HubFound = 0;
  if (services_.UsbDevicePresent && services_.UsbDevicePresent()) HubFound = 1;
  if (HubFound == 0) {
    CloseState();
    return;
  }

  // 4. The receive handlers, before any input port is opened.
  InputPorts().OnMidiData = [this](int32_t port, uint8_t status, uint8_t data1, uint8_t data2) {
    MidiDataReceived(port, status, data1, data2);
  };
  InputPorts().OnSysExData = [this](int32_t port, vlx::TByteStream& stream) { SysExReceived(port, stream); };

  // 5, 6. The first output named "vellox".
  DiscoveryMode = 0;
  for (int i = 0; i < lbxOutputDevices->count(); ++i) {
    if (lbxOutputDevices->ItemText(i) == ControllerPortName) {
      DevicePort = i;
      DiscoveryMode = 1;
      // Recorded once open: a port that failed to open is not closed at exit.
      OutputPorts().Open(i);
      Record(OutputOpened, i);
      lbxOutputDevices->SetChecked(i, true);
      break;
    }
  }

  // 7, 8. Inputs of the same name, or every port whose name begins with "USB".
  UsbPortCount = 0;
  if (DiscoveryMode == 0) {
    for (int i = 0; i < lbxOutputDevices->count(); ++i) {
      if (!IsFallbackName(lbxOutputDevices->ItemText(i))) continue;
      DevicePort = i;
      ++UsbPortCount;
      OutputPorts().Open(i);
      Record(OutputOpened, i);
      lbxOutputDevices->SetChecked(i, true);
      DiscoveryMode = 2;
    }
    for (int i = 0; i < lbxInputDevices->count(); ++i) {
      if (!IsFallbackName(lbxInputDevices->ItemText(i))) continue;
      InputPorts().Open(i);
      Record(InputOpened, i);
      lbxInputDevices->SetChecked(i, true);
      DiscoveryMode = 2;
    }
  } else {
    for (int i = 0; i < lbxInputDevices->count(); ++i) {
      if (lbxInputDevices->ItemText(i) != ControllerPortName) continue;
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
    }
  }

  ++PollTicks;
  if (PollTicks > 6) Timer3->stop();
}

void TForm1::ChooseDevicePortFromReply() {
  std::lock_guard<std::recursive_mutex> lock(SysExLock);
  if (DiscoveryMode != 2) return;
  // The port lists change only while no port is open (Rediscover), never
  // under a callback, so their names are read here instead of the check
  // lists, which belong to the window's thread.
  vlx::TMidiInput& in = InputPorts();
  if (SysExPortIndex < 0 || SysExPortIndex >= in.Count()) return;
  const std::string& name = in.Name(SysExPortIndex);
  vlx::TMidiOutput& out = OutputPorts();
  for (int32_t i = 0; i < out.Count(); ++i)
    if (out.Name(i) == name) DevicePort = i;
}

void TForm1::TimerCheckUSBTimer() {
  const int32_t result = Midi().ProbeInputDevice();
  if (result == vlx::BadDeviceId && DeviceOffline == 0) {
    LbVersions->clear();
    LbConnect->setText("Disconnect");
    LbConnect->SetFontColor(DisconnectColour);
    DeviceOffline = 1;
    TimerCheckUSB->stop();
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

bool TForm1::ControllerListed() {
  std::vector<vlx::MidiPortId> inputs, outputs;
  try {
    inputs = Midi().Service().Inputs();
    if (inputs.empty()) return false;  // discovery needs an input port
    outputs = Midi().Service().Outputs();
  } catch (const std::exception&) {
    return false;  // the service cannot tell now; the next tick asks again
  }
  const auto matches = [](const std::vector<vlx::MidiPortId>& ports) {
    for (const vlx::MidiPortId& p : ports) {
      const QString name = QString::fromStdString(p.Name);
      if (name == ControllerPortName || IsFallbackName(name)) return true;
    }
    return false;
  };
  // Both directions: JACK registers a client's ports one after the other,
  // and discovery run between the two would find no way to the controller.
  return matches(inputs) && matches(outputs);
}

void TForm1::TimerReplugTimer() {
  if (DeviceOffline == 0) {
    TimerReplug->stop();
    return;
  }
  if (rediscovering_) return;
  // The port lists first: they are what changes when a controller comes;
  // the USB check only once a port of the controller's name is there.
  if (!ControllerListed()) return;
  if (!services_.UsbDevicePresent || !services_.UsbDevicePresent()) return;
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

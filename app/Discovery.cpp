// Finding the controller at start-up and tracking whether it is connected.
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
  // The port lists never change after creation, so their names are read
  // here instead of the check lists, which belong to the window's thread.
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
  }
}

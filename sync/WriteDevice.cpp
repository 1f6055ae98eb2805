// SYNC TO FW and RESET: a whole profile into the controller.
#include <algorithm>

#include "app/Unit1.h"

void TForm1::BtnSyncFwClick(QObject*) {
  if (!Dialogs().Ask(this, "   Do you want to synchronize data to the device firmware?   ")) return;
  SaveCurrentPara();
  const std::string dump = vlx::BuildDumpText(ParaTable);
  SyncFwAcked = 0;
  SyncFwTicks = 0;
  OutputPorts().SendSysEx(DevicePort, dump);
  TimerSyncFW->start();
  SaveParaToFile();
}

void TForm1::BtnResetClick(QObject*) {
  if (DeviceOffline > 0) {
    Dialogs().Notice(this, vlx::DeviceDisconnectedText);
    return;
  }
  if (!Dialogs().Ask(this, "Do you want to reset the factory parameters?")) return;
  CurrentControl = std::clamp(CurrentControl, 1, vlx::ControlCount);
  ResetPara();
  const std::string dump = vlx::BuildDumpText(ParaTable);
  SyncFwAcked = 0;
  SyncFwTicks = 0;
  OutputPorts().SendSysEx(DevicePort, dump);
  TimerSyncFW->start();
}

void TForm1::TimerSyncFWTimer() {
  if (SyncFwAcked == 1) {
    TimerSyncFW->stop();
    ProBarToFW->setValue(100);
    Dialogs().Notice(this, "      Editor data successfully synchronized to the device.     ");
    SyncFwAcked = 0;
    ProBarToFW->setValue(0);
  }
  ++SyncFwTicks;
  if (SyncFwTicks > 10) TimerSyncFW->stop();
}

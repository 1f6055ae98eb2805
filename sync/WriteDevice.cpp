// SYNC TO FW and RESET: a whole profile into the controller.
#include <algorithm>

#include "app/Unit1.h"

void TForm1::BtnSyncFwClick(QObject*) {
  if (!Dialogs().Ask(this, "   Do you want to synchronize data to the device firmware?   ")) return;
  SaveCurrentPara();
  SendDumpAndWait(vlx::BuildDumpText(ParaTable));
  SaveParaToFile();
}

void TForm1::BtnResetClick(QObject*) {
  if (DeviceOffline > 0) {
    Dialogs().Notice(this, vlx::DeviceDisconnectedText);
    return;
  }
  if (!Dialogs().Ask(this, "Do you want to reset the factory parameters?")) return;
  UndoStep step(*this);
  CurrentControl = std::clamp(CurrentControl, 1, vlx::ControlCount);
  ResetPara();
  SendDumpAndWait(vlx::BuildDumpText(ParaTable));
}

void TForm1::SendDumpAndWait(const std::string& dumpText) {
  // Cleared before the send, so that an acknowledgement arriving at once is
  // not lost.
  SyncFwAcked = 0;
  SyncFwTicks = 0;
  OutputPorts().SendSysEx(DevicePort, dumpText);
  TimerSyncFW->start();
}

void TForm1::TimerSyncFWTimer() {
  TransferTick(TimerSyncFW, SyncFwAcked, SyncFwTicks, ProBarToFW,
               "      Editor data successfully synchronized to the device.     ");
}

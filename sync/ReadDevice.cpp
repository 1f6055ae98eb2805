// SYNC TO PC: the controller's profile into the editor.
#include "app/Unit1.h"

void TForm1::BtnSyncPcClick(QObject*) {
  if (DeviceOffline > 0) {
    Dialogs().Notice(this, vlx::DeviceDisconnectedText);
    return;
  }
  if (!Dialogs().Ask(this, "    Do you want to synchronize device  data to Editor software?    ")) return;
  SyncPcDone = 0;
  SyncPcTicks = 0;
  OutputPorts().SendSysEx(DevicePort, vlx::DumpRequestText);
  TimerSyncPC->start();
}

void TForm1::TimerSyncPCTimer() {
  if (SyncPcDone == 1) {
    TimerSyncPC->stop();
    ProBarToPC->setValue(100);
    Dialogs().Notice(this, "      Device data successfully synchronized to the Editor software.     ");
    SyncPcDone = 0;
    ProBarToPC->setValue(0);
  }
  ++SyncPcTicks;
  if (SyncPcTicks > 10) TimerSyncPC->stop();
}

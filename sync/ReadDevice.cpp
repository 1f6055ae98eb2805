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
  TransferTick(TimerSyncPC, SyncPcDone, SyncPcTicks, ProBarToPC,
               "      Device data successfully synchronized to the Editor software.     ");
}

void TForm1::TransferTick(QTimer* timer, std::atomic<int32_t>& flag, int32_t& ticks, QProgressBar* bar,
                          const char* successText) {
  if (flag == 1) {
    timer->stop();
    bar->setValue(100);
    Dialogs().Notice(this, successText);  // modal: the bar stays full while it is open
    flag = 0;
    bar->setValue(0);
  }
  ++ticks;
  if (ticks > 10) timer->stop();
}

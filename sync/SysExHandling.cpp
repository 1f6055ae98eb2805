// Received System Exclusive messages: tokens, the three recognisers, and
// the hand-over of a dump to the window's thread.
#include "app/Unit1.h"

void TForm1::SysExReceived(int32_t port, vlx::TByteStream& stream) {
  std::lock_guard<std::recursive_mutex> lock(SysExLock);
  SysExPortIndex = port;

  const vlx::TSysExKind kind = vlx::TokenizeSysEx(stream, RxTokens);
  if (kind.IdentityReply && DiscoveryMode == 2) ChooseDevicePortFromReply();
  if (kind.DumpAck) SyncFwAcked = 1;
  if (kind.ParameterDump) {
    // The table and the editor belong to the window's thread: the dump goes
    // there, and only the latest of several waiting dumps is applied.
    {
      std::lock_guard<std::mutex> dumpLock(dumpMutex_);
      pendingDump_ = RxTokens;
    }
    if (!dumpPending_.exchange(true))
      QMetaObject::invokeMethod(this, [this] { Guarded([this] { AnalysisData(); }); }, Qt::QueuedConnection);
  }
}

void TForm1::AnalysisData() {
  vlx::TRxTokens dump;
  {
    std::lock_guard<std::mutex> dumpLock(dumpMutex_);
    dumpPending_ = false;
    dump = pendingDump_;
  }
  // Asked for or not (another program on the controller's ports may have
  // asked), the dump is one step: Ctrl+Z brings back what it replaced.
  UndoStep step(*this);
  vlx::ApplyDump(dump, ParaTable);
  RegainData();
  SyncPcDone = 1;
}

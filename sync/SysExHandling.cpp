// Received System Exclusive messages: tokens, the three recognisers, and
// the hand-over of a dump to the window's thread.
#include <algorithm>

#include "app/Unit1.h"

void TForm1::SysExReceived(int32_t port, vlx::TByteStream& stream) {
  std::lock_guard<std::recursive_mutex> lock(SysExLock);
  SysExPortIndex = port;

  // Only the first 50 bytes become tokens; the text of a longer message is
  // never needed whole.
  vlx::TByteStream head;
  const std::size_t n = std::min<std::size_t>(stream.Size(), RxTokens.size());
  head.Bytes.assign(stream.Memory(), stream.Memory() + n);
  stream.Position = 0;
  std::string text;
  vlx::BytesToHexText(head, text);
  vlx::CutTokens(text, RxTokens);

  if (vlx::IsIdentityReply(RxTokens) && DiscoveryMode == 2) ChooseDevicePortFromReply();
  if (vlx::IsDumpAck(RxTokens)) SyncFwAcked = 1;
  if (vlx::IsParameterDump(RxTokens)) {
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
  vlx::ApplyDump(dump, ParaTable);
  RegainData();
  SyncPcDone = 1;
}

// The live monitor: the last short message from the controller.
#include "app/Unit1.h"

void TForm1::MidiDataReceived(int32_t, uint8_t status, uint8_t data1, uint8_t data2) {
  if (status == 254) return;  // Active Sensing
  LastMessage.store(uint32_t(status) | uint32_t(data1) << 8 | uint32_t(data2) << 16);
  // One refresh at a time is queued for the window's thread; it shows the
  // latest message, however many arrived meanwhile.
  if (!monitorPending_.exchange(true))
    QMetaObject::invokeMethod(
        this,
        [this] {
          monitorPending_ = false;
          RenderMonitor();
        },
        Qt::QueuedConnection);
}

void TForm1::CmbDataDisClick(QObject*) { RenderMonitor(); }

void TForm1::RenderMonitor() {
  const uint32_t m = LastMessage.load();
  const int bytes[3] = {int(m & 0xFF), int(m >> 8 & 0xFF), int(m >> 16 & 0xFF)};
  TLabel* boxes[3] = {LbStatus, LbData1, LbData2};
  const int base = CmbDataDis->ItemIndex();
  if (base != 0 && base != 1) return;
  for (int i = 0; i < 3; ++i)
    boxes[i]->setText(base == 0 ? QString::number(bytes[i])
                                : QString("%1").arg(bytes[i], 2, 16, QChar('0')).toUpper());
}

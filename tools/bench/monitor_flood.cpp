// Benchmark of the live monitor under a flood of short messages.
//
// The real window runs headless on the in-process MIDI service with the
// controller's ports "vellox". One plain thread plays Note On messages into
// the open input as fast as it can, through the port layer (the service's
// Inject, which calls the input list's receive path and so MidiDataReceived),
// while the window's thread runs its event loop. At the end of each run the
// thread plays one message that never occurred before, and the loop watches
// for the display to show it.
//
// Printed per run: messages accepted per second, display refreshes (the
// queued calls the window's thread ran on the window; nothing else queues
// calls to it during a flood of short messages), messages per refresh, the
// delay from the last message to the display showing it, and the resident
// memory (VmRSS) before and after. A second run lasts twice as long: memory
// that stays flat across both shows that nothing grows with the number of
// messages.
//
// Build and run:
//   cmake --build <build> --target vlx_bench_monitor_flood
//   <build>/tools/bench/vlx_bench_monitor_flood [seconds]     (default 3)
// It runs offscreen unless QT_QPA_PLATFORM says otherwise.
#include <QApplication>
#include <QEvent>
#include <QTemporaryDir>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>

#include "app/Dialogs.h"
#include "app/Unit1.h"
#include "tools/bench/BenchDialogs.h"
#include "tools/bench/Rss.h"
#include "midi/FakeMidiService.h"

namespace {

using Clock = std::chrono::steady_clock;

// Counts the queued calls that reach the window: each one is a refresh of
// the monitor.
class RefreshCounter : public QObject {
 public:
  std::atomic<long> Count{0};
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::MetaCall) ++Count;
    return false;
  }
};

using vlx::bench::VmRssKb;

struct RunResult {
  double seconds = 0;
  long accepted = 0;
  long refreshes = 0;
  double delayUs = 0;
  long rssBefore = 0, rssAfter = 0;
};

RunResult Run(QApplication& app, TForm1& form, vlx::FakeMidiService& midi, RefreshCounter& counter, double seconds,
              uint8_t lastData) {
  RunResult r;
  r.rssBefore = VmRssKb();
  const long refreshesBefore = counter.Count;
  std::atomic<bool> done{false};
  std::atomic<long> accepted{0};
  Clock::time_point start, lastSent;

  std::thread player([&] {
    std::vector<uint8_t> m(3);
    long n = 0;
    start = Clock::now();
    const auto end = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    for (long i = 0;; ++i) {
      if ((i & 1023) == 0 && Clock::now() >= end) break;
      m[0] = static_cast<uint8_t>(0x90 | (i & 0x0F));
      m[1] = static_cast<uint8_t>(i >> 4 & 0x7F);
      m[2] = static_cast<uint8_t>(i >> 11 & 0x7F);
      if (midi.Inject("in", m)) ++n;
    }
    // The last message: a status the flood never used.
    m = {0xB0, 0x7F, lastData};
    lastSent = Clock::now();
    if (midi.Inject("in", m)) ++n;
    accepted = n;
    done = true;
    QMetaObject::invokeMethod(&app, [] {}, Qt::QueuedConnection);  // wakes the loop
  });

  const QStringList last = {"176", "127", QString::number(lastData)};
  Clock::time_point shown;
  for (;;) {
    app.processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    if (done && QStringList({form.LbStatus->text(), form.LbData1->text(), form.LbData2->text()}) == last) {
      shown = Clock::now();
      break;
    }
  }
  player.join();
  app.processEvents();

  r.seconds = std::chrono::duration<double>(lastSent - start).count();
  r.accepted = accepted;
  r.refreshes = counter.Count - refreshesBefore;
  r.delayUs = std::chrono::duration<double, std::micro>(shown - lastSent).count();
  r.rssAfter = VmRssKb();
  return r;
}

void Print(const char* name, const RunResult& r) {
  std::printf("%s: %.2f s, %ld messages accepted, %.0f messages/s\n", name, r.seconds, r.accepted,
              r.accepted / r.seconds);
  std::printf("  display refreshes: %ld (%.1f messages per refresh, %.0f refreshes/s)\n", r.refreshes,
              r.refreshes ? double(r.accepted) / r.refreshes : 0.0, r.refreshes / r.seconds);
  std::printf("  last message to display: %.0f us\n", r.delayUs);
  std::printf("  VmRSS: %ld kB before, %ld kB after (%+ld kB)\n", r.rssBefore, r.rssAfter, r.rssAfter - r.rssBefore);
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  const double seconds = argc > 1 ? std::atof(argv[1]) : 3.0;
  if (!(seconds > 0)) {
    std::fprintf(stderr, "usage: %s [seconds]\n", argv[0]);
    return 2;
  }
  QApplication app(argc, argv);
  QApplication::setApplicationName(ApplicationTitle);
  QTemporaryDir dir;  // the settings file and the profile go here
  if (!dir.isValid()) {
    std::fprintf(stderr, "no temporary folder\n");
    return 1;
  }

  auto midi = std::make_shared<vlx::FakeMidiService>();
  midi->AddInput("vellox", "in");
  midi->AddOutput("vellox", "out");
  TForm1::Services services;
  services.Dialogs = std::make_shared<vlx::bench::BenchDialogs>();
  services.Midi = midi;
  services.UsbDevicePresent = [] { return true; };
  services.AppDir = dir.path().toStdString() + "/";
  long rssStart = VmRssKb();
  int status = 0;
  {
    TForm1 form(services);
    form.show();
    if (!form.InputPorts().IsOpen(0)) {
      std::fprintf(stderr, "the input \"vellox\" is not open\n");
      return 1;
    }
    RefreshCounter counter;
    form.installEventFilter(&counter);

    std::printf("monitor flood, %.1f s and %.1f s runs, %u hardware threads\n", seconds, 2 * seconds,
                std::thread::hardware_concurrency());
    std::printf("VmRSS with the window open: %ld kB (%ld kB at start)\n", VmRssKb(), rssStart);
    Print("warm-up", Run(app, form, *midi, counter, 0.5, 1));
    const RunResult first = Run(app, form, *midi, counter, seconds, 2);
    Print("run 1", first);
    const RunResult second = Run(app, form, *midi, counter, 2 * seconds, 3);
    Print("run 2", second);
    std::printf("VmRSS growth: run 1 %+ld kB for %ld messages, run 2 %+ld kB for %ld messages\n",
                first.rssAfter - first.rssBefore, first.accepted, second.rssAfter - second.rssBefore,
                second.accepted);
    if (first.accepted == 0 || second.accepted == 0) status = 1;
  }
  return status;
}

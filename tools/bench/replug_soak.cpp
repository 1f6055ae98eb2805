// Soak benchmark of following the controller: the real window, headless, on
// the in-process virtual controller, which is unplugged and plugged in again
// N times (default 1000). Every other time it comes back behind the output
// ports of other clients, so under another output index. (Other clients'
// inputs would keep the presence probe from ever seeing it go.)
//
// The window's timer handlers are called directly instead of waiting for
// their timers: the presence probe (TimerCheckUSBTimer) sees the controller
// gone, the watcher (TimerReplugTimer) sees it back and runs discovery, and
// the identity polling (Timer3Timer) reads the reply. Each cycle checks the
// window's state and the service's own count of open ports; every 100th
// cycle also runs a SYNC TO PC to the end.
//
// Printed: the resident memory (VmRSS) at the start and every 100 cycles,
// its growth, and the time per cycle. Ends with status 1 at the first cycle
// whose state is wrong.
//
//   cmake --build <build> --target vlx_bench_replug_soak
//   <build>/tools/bench/vlx_bench_replug_soak [cycles]
#include <QApplication>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "VirtualControllerService.h"
#include "app/Dialogs.h"
#include "app/Unit1.h"
#include "tools/bench/BenchDialogs.h"
#include "tools/bench/Rss.h"

namespace {

using vlx::bench::VmRssKb;

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const int cycles = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1000;

  QTemporaryDir dir;
  auto dialogs = std::make_shared<vlx::bench::BenchDialogs>(true);
  auto device = std::make_shared<vlx::VirtualControllerService>();
  TForm1::Services services;
  services.Dialogs = dialogs;
  services.Midi = device;
  services.UsbDevicePresent = [] { return true; };
  services.AppDir = dir.path().toStdString() + "/";
  TForm1 w(services);

  const auto fail = [&](int cycle, const char* what) {
    std::fprintf(stderr, "cycle %d: %s\n", cycle, what);
    return 1;
  };
  const auto connect = [&](int cycle) {
    device->WaitIdle();  // the identity reply is in
    w.Timer3Timer();
    if (w.LbConnect->text() != "Connect" || w.DeviceOffline != 0) return fail(cycle, "not connected");
    if (device->OpenPortCount() != 2) return fail(cycle, "not exactly the controller's two ports open");
    return 0;
  };
  if (connect(0) != 0) return 1;

  const long rssStart = VmRssKb();
  std::printf("replug soak: %d cycles, VmRSS at start %ld kB\n", cycles, rssStart);
  std::fflush(stdout);
  const auto start = std::chrono::steady_clock::now();
  int keyboards = 0;
  for (int cycle = 1; cycle <= cycles; ++cycle) {
    device->Unplug();
    w.TimerCheckUSBTimer();
    if (w.DeviceOffline != 1 || w.LbConnect->text() != "Disconnect") return fail(cycle, "not offline");
    if (device->OpenPortCount() != 0) return fail(cycle, "ports left open after the unplugging");
    // The service closes a vanished input itself; the window must have let
    // go of both of its ports too.
    for (int32_t i = 0; i < w.InputPorts().Count(); ++i)
      if (w.InputPorts().IsOpen(i)) return fail(cycle, "the window holds an input open after the unplugging");
    for (int32_t i = 0; i < w.OutputPorts().Count(); ++i)
      if (w.OutputPorts().IsOpen(i)) return fail(cycle, "the window holds an output open after the unplugging");

    if (cycle % 2 == 1 && keyboards < 4) device->AddOutput("Synth " + std::to_string(++keyboards));
    device->Plug(cycle % 2 == 1 ? vlx::VirtualControllerService::End : 0);
    w.TimerReplugTimer();
    if (w.DeviceOffline != 0) return fail(cycle, "not found again");
    if (connect(cycle) != 0) return 1;

    if (cycle % 100 == 0) {
      const int before = dialogs->Notices;
      w.BtnSyncPcClick(w.BtnSyncPc);
      device->WaitIdle();
      QCoreApplication::processEvents();  // the dump is applied on this thread
      w.TimerSyncPCTimer();
      if (dialogs->Notices != before + 1) return fail(cycle, "SYNC TO PC did not end in success");
      std::printf("  after %4d cycles: VmRSS %ld kB\n", cycle, VmRssKb());
      std::fflush(stdout);
    }
    QCoreApplication::processEvents();
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const long rssEnd = VmRssKb();
  std::printf("VmRSS growth over %d cycles: %ld kB (%ld -> %ld kB); %.2f ms per cycle; error boxes %d\n", cycles,
              rssEnd - rssStart, rssStart, rssEnd, 1000.0 * seconds / cycles, dialogs->Errors);
  return dialogs->Errors == 0 ? 0 : 1;
}

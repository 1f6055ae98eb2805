// What an idle editor costs: the real window, headless, on the real MIDI
// service (RtMidi over JACK), left alone for a while in three states:
//
//   connected      the controller program (vellox-sim) is there: the
//                  presence probe runs once a second, the open ports take
//                  part in every JACK cycle;
//   disconnected   the controller is gone, the JACK server is up: the watcher
//                  looks for it once a second;
//   no service     no JACK server (and no ALSA sequencer): the watcher's
//                  listing tries to reach a server once a second.
//
// For each: the CPU time of this process (user + system, every thread) over
// the period as a share of one core, and the cost of one presence probe and
// of one watcher tick (mean over 200 calls); without a server, the number of
// tries to reach one in the period and the cost of one try (they are spaced
// out, so a probe or tick in between costs next to nothing). Also the cost of one USB check
// of /sys/bus/usb/devices, which the watcher adds once a port named like
// the controller is listed.
//
// It starts a JACK server of its own (jackd, dummy driver, no real-time) and
// the controller program, and stops both. The window's USB check answers yes,
// as vellox-sim is no USB device.
//
//   cmake --build <build> --target vlx_bench_idle_cost vellox-sim
//   <build>/tools/bench/vlx_bench_idle_cost [seconds per state]   (default 60)
#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <memory>

#include "app/Dialogs.h"
#include "app/Unit1.h"
#include "tools/bench/BenchDialogs.h"
#include "platform/UsbCheck.h"
#include "midi/RtMidiService.h"

namespace {

using Clock = std::chrono::steady_clock;

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void RunFor(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

bool RunUntil(const std::function<bool()>& done, int ms) {
  QElapsedTimer t;
  t.start();
  while (!done()) {
    if (t.elapsed() > ms) return false;
    RunFor(20);
  }
  return true;
}

template <class F>
double MicrosecondsPerCall(F call, int n = 200) {
  const auto start = Clock::now();
  for (int i = 0; i < n; ++i) call();
  return std::chrono::duration<double, std::micro>(Clock::now() - start).count() / n;
}

std::unique_ptr<TForm1> Window(const QString& dir) {
  TForm1::Services s;
  s.Dialogs = std::make_shared<vlx::bench::BenchDialogs>();
  s.Midi = vlx::CreateRtMidiService(vlx::MidiApiChoice::Jack);
  s.UsbDevicePresent = [] { return true; };
  s.AppDir = dir.toStdString() + "/";
  return std::make_unique<TForm1>(s);
}

void Measure(const char* state, TForm1& w, int seconds) {
  auto& service = static_cast<vlx::RtMidiService&>(w.Midi().Service());
  const int tries0 = service.ListingClientOpens();
  const double cpu0 = CpuSeconds();
  const auto t0 = Clock::now();
  RunFor(seconds * 1000);
  const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
  const double cpu = CpuSeconds() - cpu0;
  const double probe = MicrosecondsPerCall([&] { w.Midi().ProbeInputDevice(); });
  const int tries = service.ListingClientOpens() - tries0;
  std::printf("%-13s CPU %.3f s in %.0f s = %.3f %% of a core; probe %.0f us", state, cpu, wall,
              100.0 * cpu / wall, probe);
  if (tries > 0) {
    // Each fresh service tries to reach the server once.
    const double perTry = MicrosecondsPerCall(
        [] { vlx::RtMidiService(vlx::MidiApiChoice::Jack, "VLX210").Inputs(); }, 20);
    std::printf("; %d tries to reach a JACK server, %.0f us each", tries, perTry);
  }
  if (w.DeviceOffline == 1) std::printf("; watcher tick %.0f us", MicrosecondsPerCall([&] { w.TimerReplugTimer(); }));
  std::printf("\n");
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  const QByteArray server = "vlxbench-" + QByteArray::number(getpid());
  qputenv("JACK_DEFAULT_SERVER", server);
  qputenv("JACK_NO_AUDIO_RESERVATION", "1");
  QApplication app(argc, argv);
  const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;
  QTemporaryDir dir;

  QProcess jackd;
  jackd.setStandardOutputFile(QProcess::nullDevice());
  jackd.setStandardErrorFile(QProcess::nullDevice());  // its x-run notes on a busy machine
  jackd.start("jackd", {"--no-realtime", "-n", server, "-d", "dummy"});
  QProcess sim;
  sim.setStandardOutputFile(QProcess::nullDevice());
  const auto stopAll = [&] {
    for (QProcess* p : {&sim, &jackd}) {
      if (p->state() == QProcess::NotRunning) continue;
      p->terminate();
      if (!p->waitForFinished(5000)) p->kill();
      p->waitForFinished(5000);
    }
  };
  std::printf("idle cost, %d s per state; USB check of /sys %.0f us\n", seconds,
              MicrosecondsPerCall([] { vlx::UsbDevicePresent(); }));

  // The server takes clients once the controller program can start.
  bool started = false;
  for (int attempt = 0; attempt < 50 && !started; ++attempt) {
    RunFor(200);
    sim.start(VLX_SIM_BINARY, {});
    started = sim.waitForStarted(5000) && !sim.waitForFinished(500);
  }
  if (!started) {
    std::fprintf(stderr, "no JACK server or controller program\n");
    stopAll();
    return 1;
  }

  auto w = Window(dir.path());
  if (!RunUntil([&] { return w->LbConnect->text() == "Connect"; }, 10000)) {
    std::fprintf(stderr, "the window did not connect\n");
    stopAll();
    return 1;
  }
  Measure("connected", *w, seconds);

  sim.terminate();
  sim.waitForFinished(5000);
  if (!RunUntil([&] { return w->DeviceOffline == 1; }, 5000)) {
    std::fprintf(stderr, "the window did not see the controller go\n");
    stopAll();
    return 1;
  }
  Measure("disconnected", *w, seconds);
  w.reset();

  stopAll();
  w = Window(dir.path());
  Measure("no service", *w, seconds);
  w.reset();
  return 0;
}

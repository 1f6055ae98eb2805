// Benchmark of vellox-cli: the wall time of `read` and of `write` with its
// read-back against the virtual controller on a JACK server (the controller
// answers at once, so this is the program's own cost: start-up, the MIDI
// service, finding the ports, the identity request and the transfers), and
// the monitor's sustained rate.
//
// The monitor's rate is measured twice: in-process, the monitor's queue,
// decoder and buffered output (to /dev/null) fed by the in-process virtual
// controller as fast as it can play; and over JACK, `vellox-cli monitor
// --count N` fed by a JACK client, which the JACK server's MIDI buffer per
// cycle limits.
//
// Needs a running JACK server (JACK_DEFAULT_SERVER names it), for example:
//   JACK_DEFAULT_SERVER=vlxbench jackd --no-realtime -d dummy -r 48000 -p 1024 &
//   <build>/tools/bench/vlx_bench_cli [runs]        (default 10)
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "JackVirtualController.h"
#include "VirtualControllerService.h"
#include "profile/ProfileFormats.h"
#include "session/Monitor.h"
#include "session/Session.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

pid_t Start(std::vector<std::string> args) {
  args.insert(args.begin(), VLX_CLI_PATH);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

int Finish(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

// Milliseconds of one run of the program.
double TimeRun(const std::vector<std::string>& args) {
  const auto t0 = Clock::now();
  const int code = Finish(Start(args));
  const double ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
  if (code != 0) std::fprintf(stderr, "run failed with exit code %d\n", code);
  return ms;
}

void Report(const char* what, std::vector<double> ms) {
  std::sort(ms.begin(), ms.end());
  std::printf("%-28s median %7.1f ms   min %7.1f ms   max %7.1f ms   (%zu runs)\n", what, ms[ms.size() / 2], ms.front(),
              ms.back(), ms.size());
}

double InProcessMonitorRate(std::chrono::seconds duration) {
  auto service = std::make_shared<vlx::VirtualControllerService>();
  vlx::TSessionOptions o;
  o.UsbPresent = [] { return true; };
  vlx::TSession session(service, o);
  vlx::TMonitorQueue queue;
  const auto names = session.OpenInputs(
      [&](int32_t port, uint8_t s, uint8_t d1, uint8_t d2) { queue.PushShort(port, s, d1, d2); },
      [&](int32_t port, vlx::TByteStream& st) { queue.PushSysEx(port, st.Memory(), st.Size()); });
  std::FILE* out = std::fopen("/dev/null", "w");
  std::atomic<bool> stop{false};
  std::thread player([&] {
    for (unsigned i = 0; !stop; ++i) service->PlayShort(0x90, (i >> 7) & 127, i & 127);
  });
  std::vector<vlx::TMonitorEvent> events;
  std::string text;
  uint64_t printed = 0;
  const auto t0 = Clock::now();
  while (Clock::now() - t0 < duration) {
    queue.TakeAll(events, 20ms);
    text.clear();
    for (const auto& e : events) printed += vlx::FormatMonitorEvent(e, vlx::MonitorStyle::Decoded, {}, names, text);
    std::fwrite(text.data(), 1, text.size(), out);
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
  stop = true;
  player.join();
  session.Close();
  std::fclose(out);
  if (queue.Dropped() > 0) std::printf("  (%llu dropped)\n", static_cast<unsigned long long>(queue.Dropped()));
  return static_cast<double>(printed) / seconds;
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
  signal(SIGPIPE, SIG_IGN);

  std::printf("monitor in-process: %.0f messages/s decoded and printed (3 s, to /dev/null)\n",
              InProcessMonitorRate(3s));

  std::unique_ptr<vlx::JackVirtualController> device;
  try {
    device = std::make_unique<vlx::JackVirtualController>();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "no JACK server (%s): start one first, see the top of this file\n", e.what());
    return 1;
  }
  const std::vector<std::string> common = {"--midi-api", "jack", "--no-usb-check", "--quiet"};
  const auto with = [&](std::vector<std::string> args) {
    args.insert(args.begin(), common.begin(), common.end());
    return args;
  };
  char dir[] = "/tmp/vlxbench.XXXXXX";
  if (!mkdtemp(dir)) return 1;
  const std::string file = std::string(dir) + "/p.json";

  TimeRun(with({"info"}));  // the first run loads the libraries
  std::vector<double> info, read, write, writeNoVerify;
  for (int i = 0; i < runs; ++i) {
    info.push_back(TimeRun(with({"info"})));
    read.push_back(TimeRun(with({"read", "-o", file})));
    write.push_back(TimeRun(with({"write", file})));
    writeNoVerify.push_back(TimeRun(with({"write", "--no-verify", file})));
  }
  Report("info", info);
  Report("read -o FILE", read);
  Report("write FILE (verified)", write);
  Report("write --no-verify FILE", writeNoVerify);

  // The monitor over JACK: a flood from the controller's JACK client.
  constexpr int N = 50000;
  const pid_t monitor = Start(with({"monitor", "--count", std::to_string(N)}));
  const auto deadline = Clock::now() + 10s;
  while (device->Peer().OutConnections() == 0 && Clock::now() < deadline) std::this_thread::sleep_for(5ms);
  const auto t0 = Clock::now();
  for (int i = 0; i < N; ++i) {
    const vlx::MidiMessage m = {0x90, static_cast<uint8_t>((i >> 7) & 127), static_cast<uint8_t>(i & 127)};
    while (!device->Play(m)) std::this_thread::sleep_for(200us);
  }
  const int code = Finish(monitor);
  const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
  std::printf("monitor over JACK: %d messages in %.2f s, %.0f messages/s (exit code %d; JACK's MIDI buffer per cycle is "
              "the limit)\n",
              N, seconds, N / seconds, code);
  std::remove(file.c_str());
  rmdir(dir);
  return 0;
}

// vellox-sim: a virtual vellox on JACK or on the ALSA sequencer, for trying
// and testing the editor without the hardware. Runs until SIGINT or SIGTERM;
// SIGUSR1 unplugs it (its ports leave the JACK graph, or its client leaves
// the sequencer) and plugs it in again, in turn.

#include <csignal>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <mutex>
#include <pthread.h>
#include <stdexcept>
#include <string>
#include <vector>

#include "AlsaVirtualController.h"
#include "JackVirtualController.h"

namespace {

const char kUsage[] =
    "usage: vellox-sim [options]\n"
    "  --fw VERSION        firmware version in the identity reply (default 1.05)\n"
    "  --silent-identity   do not answer identity requests\n"
    "  --silent-dump       do not answer dump requests\n"
    "  --silent-ack        store parameter dumps without acknowledging them\n"
    "  --store-wrong BYTE  a faulty controller: store body byte BYTE (0..38) of every\n"
    "                      parameter dump one higher than sent\n"
    "  --play \"90 3C 64\"   send these bytes once the output is connected (repeatable)\n"
    "  --midi-api API      jack or alsa: the MIDI system to appear on (default jack)\n"
    "  --name CLIENT       client name (default vellox)\n"
    "  --server NAME       JACK server (default: JACK_DEFAULT_SERVER or JACK's default)\n"
    "  --sysex-piece BYTES ALSA: send SysEx in events of at most BYTES bytes, as the\n"
    "                      kernel hands over a USB device's (default: whole messages)\n"
    "  --verbose           print every message received and sent\n"
    "  --help              this text\n"
    "Signals: SIGUSR1 unplugs the controller and plugs it in again, in turn;\n"
    "SIGINT and SIGTERM end it.\n";

struct Args {
  vlx::VirtualControllerOptions Controller;
  vlx::JackVirtualController::Options Jack;
  vlx::AlsaVirtualController::Options Alsa;
  bool UseAlsa = false;
  std::vector<vlx::MidiMessage> Play;
  bool Verbose = false;
  bool Help = false;
};

Args ParseArgs(int argc, char** argv) {
  Args args;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const auto value = [&]() -> std::string {
      if (i + 1 >= argc) throw std::invalid_argument(arg + " needs a value");
      return argv[++i];
    };
    if (arg == "--fw") {
      const auto [major, minor] = vlx::ParseFirmwareVersion(value());
      args.Controller.FirmwareMajor = major;
      args.Controller.FirmwareMinor = minor;
    } else if (arg == "--silent-identity") {
      args.Controller.SilentIdentity = true;
    } else if (arg == "--silent-dump") {
      args.Controller.SilentDump = true;
    } else if (arg == "--silent-ack") {
      args.Controller.SilentAck = true;
    } else if (arg == "--store-wrong") {
      const std::string v = value();
      std::size_t used = 0;
      int index = -1;
      try {
        index = std::stoi(v, &used);
      } catch (const std::exception&) {
        used = 0;
      }
      if (used != v.size() || index < 0 || index > 38)
        throw std::invalid_argument("--store-wrong needs a body byte number 0..38, not \"" + v + "\"");
      args.Controller.StoreWrongByte = index;
    } else if (arg == "--play") {
      vlx::MidiMessage bytes = vlx::ParseHexBytes(value());
      if (bytes.empty()) throw std::invalid_argument("--play needs at least one byte");
      args.Play.push_back(std::move(bytes));
    } else if (arg == "--name") {
      args.Jack.ClientName = value();
      if (args.Jack.ClientName.empty()) throw std::invalid_argument("--name needs a client name");
      args.Alsa.ClientName = args.Jack.ClientName;
    } else if (arg == "--midi-api") {
      const std::string v = value();
      if (v != "alsa" && v != "jack") throw std::invalid_argument("--midi-api needs alsa or jack, not \"" + v + "\"");
      args.UseAlsa = v == "alsa";
    } else if (arg == "--sysex-piece") {
      const std::string v = value();
      std::size_t used = 0;
      long n = -1;
      try {
        n = std::stol(v, &used);
      } catch (const std::exception&) {
        used = 0;
      }
      if (used != v.size() || n < 1 || n > 65536)
        throw std::invalid_argument("--sysex-piece needs a number of bytes 1..65536, not \"" + v + "\"");
      args.Alsa.SysExPiece = static_cast<std::size_t>(n);
    } else if (arg == "--server") {
      args.Jack.ServerName = value();
    } else if (arg == "--verbose") {
      args.Verbose = true;
    } else if (arg == "--help" || arg == "-h") {
      args.Help = true;
    } else {
      throw std::invalid_argument("unknown option " + arg);
    }
  }
  return args;
}

int OutConnections(vlx::JackVirtualController& sim) { return sim.Peer().OutConnections(); }
int OutConnections(vlx::AlsaVirtualController& sim) { return sim.OutConnections(); }

}  // namespace

int main(int argc, char** argv) {
  Args args;
  try {
    args = ParseArgs(argc, argv);
  } catch (const std::exception& e) {
    std::cerr << "vellox-sim: " << e.what() << "\n" << kUsage;
    return 2;
  }
  if (args.Help) {
    std::cout << kUsage;
    return 0;
  }

  // Block the signals before any thread starts, so that only sigtimedwait
  // below takes them.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGUSR1);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  auto controller = std::make_shared<vlx::VirtualController>(args.Controller);
  std::mutex printMutex;
  if (args.Verbose) {
    controller->SetLogger([&](const std::string& line) {
      std::lock_guard lock(printMutex);
      std::cout << line << std::endl;
    });
  }

  const auto describe = [&](const std::string& where) {
    std::lock_guard lock(printMutex);
    const auto o = controller->Options();
    std::printf("vellox-sim: %s, firmware %u.%02u%s%s%s%s\n", where.c_str(), o.FirmwareMajor, o.FirmwareMinor,
                o.SilentIdentity ? ", silent identity" : "", o.SilentDump ? ", silent dump" : "",
                o.SilentAck ? ", silent ack" : "",
                o.StoreWrongByte >= 0 ? (", stores body byte " + std::to_string(o.StoreWrongByte) + " wrongly").c_str()
                                      : "");
    std::fflush(stdout);
  };

  // Serves until SIGINT or SIGTERM; gone() tells that the MIDI system itself
  // went away.
  const auto serve = [&](auto& sim, auto gone) -> int {
    bool played = args.Play.empty();
    int connectedTicks = 0;  // ticks in a row with the output connected
    bool plugged = true;
    const timespec tick{0, 100 * 1000 * 1000};
    for (;;) {
      const int sig = sigtimedwait(&signals, nullptr, &tick);
      if (sig == SIGINT || sig == SIGTERM) break;
      if (sig == SIGUSR1) {
        plugged = !plugged;
        if (!plugged) {
          sim.Unplug();
        } else if (!sim.Plug()) {
          std::cerr << "vellox-sim: the ports could not be made again\n";
          return 1;
        }
        std::lock_guard lock(printMutex);
        std::printf("vellox-sim: %s\n", plugged ? "plugged in" : "unplugged");
        std::fflush(stdout);
      }
      if (const char* why = gone()) {
        std::cerr << "vellox-sim: " << why << "\n";
        return 1;
      }
      connectedTicks = plugged && OutConnections(sim) > 0 ? connectedTicks + 1 : 0;
      // A connection is listed a moment before the sequencer delivers
      // through it: the bytes go one tick after it was first seen.
      if (!played && connectedTicks >= 2) {
        played = true;
        for (const auto& bytes : args.Play) {
          const bool sent = sim.Play(bytes);
          std::lock_guard lock(printMutex);
          if (!sent) {
            std::cerr << "vellox-sim: could not send " << vlx::HexBytes(bytes) << "\n";
          } else if (args.Verbose) {
            std::cout << "tx " << vlx::HexBytes(bytes) << " (played)" << std::endl;
          }
        }
      }
    }
    if (sim.LostReplies() > 0) std::cerr << "vellox-sim: " << sim.LostReplies() << " replies could not be sent\n";
    return 0;
  };

  try {
    if (args.UseAlsa) {
      vlx::AlsaVirtualController sim(controller, args.Alsa);
      describe("ALSA sequencer client \"" + args.Alsa.ClientName + "\" (" + std::to_string(sim.ClientId()) +
               "), port \"" + args.Alsa.PortName + "\"");
      return serve(sim, [] { return static_cast<const char*>(nullptr); });
    }
    vlx::JackVirtualController sim(controller, args.Jack);
    describe("JACK client \"" + sim.Peer().ClientName() + "\", ports " + sim.Peer().InPortName() + " and " +
             sim.Peer().OutPortName());
    return serve(sim, [&sim] { return sim.Peer().ServerGone() ? "the JACK server has shut down" : nullptr; });
  } catch (const std::exception& e) {
    std::cerr << "vellox-sim: " << e.what() << "\n";
    return 1;
  }
}

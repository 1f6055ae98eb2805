// vellox-sim: a virtual vellox on JACK, for trying and testing the editor
// without the hardware. Runs until SIGINT or SIGTERM; SIGUSR1 unplugs it
// (its ports leave the JACK graph) and plugs it in again, in turn.

#include <csignal>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <mutex>
#include <pthread.h>
#include <stdexcept>
#include <string>
#include <vector>

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
    "  --name CLIENT       JACK client name (default vellox)\n"
    "  --server NAME       JACK server (default: JACK_DEFAULT_SERVER or JACK's default)\n"
    "  --verbose           print every message received and sent\n"
    "  --help              this text\n"
    "Signals: SIGUSR1 unplugs the controller and plugs it in again, in turn;\n"
    "SIGINT and SIGTERM end it.\n";

struct Args {
  vlx::VirtualControllerOptions Controller;
  vlx::JackVirtualController::Options Jack;
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

  try {
    vlx::JackVirtualController sim(controller, args.Jack);
    {
      std::lock_guard lock(printMutex);
      const auto o = controller->Options();
      std::printf("vellox-sim: JACK client \"%s\", ports %s and %s, firmware %u.%02u%s%s%s%s\n",
                  sim.Peer().ClientName().c_str(), sim.Peer().InPortName().c_str(), sim.Peer().OutPortName().c_str(),
                  o.FirmwareMajor, o.FirmwareMinor, o.SilentIdentity ? ", silent identity" : "",
                  o.SilentDump ? ", silent dump" : "", o.SilentAck ? ", silent ack" : "",
                  o.StoreWrongByte >= 0 ? (", stores body byte " + std::to_string(o.StoreWrongByte) + " wrongly").c_str()
                                        : "");
      std::fflush(stdout);
    }

    bool played = args.Play.empty();
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
      if (sim.Peer().ServerGone()) {
        std::cerr << "vellox-sim: the JACK server has shut down\n";
        return 1;
      }
      if (!played && sim.Peer().OutConnections() > 0) {
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
  } catch (const std::exception& e) {
    std::cerr << "vellox-sim: " << e.what() << "\n";
    return 1;
  }
  return 0;
}

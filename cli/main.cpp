// vellox-cli: the controller from the command line. Reads, writes (with a
// read-back that checks every stored field), resets, shows, compares and
// converts profiles, and monitors what the controller sends. Data goes to
// stdout, diagnostics to stderr.
#include <signal.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "midi/RtMidiService.h"
#include "profile/ProfileFormats.h"
#include "session/Monitor.h"
#include "session/Session.h"

namespace {

using namespace vlx;

// Exit codes.
constexpr int ExitOk = 0;
constexpr int ExitUsage = 1;         // bad command line
constexpr int ExitNoController = 2;  // no controller, no answer, MIDI not available
constexpr int ExitMismatch = 3;      // verification failed; diff found differences
constexpr int ExitFile = 4;          // a file cannot be read or written, or is not a profile
constexpr int ExitCancelled = 5;     // the question before a reset was not answered yes
constexpr int ExitInternal = 6;      // none of these: a fault of the program itself

const char kExitCodes[] =
    "\nExit codes:\n"
    "  0  success (diff: the profiles are the same)\n"
    "  1  usage error\n"
    "  2  no controller found, no answer in time, or MIDI not available\n"
    "  3  verification failed (a field read back differs), or diff found differences\n"
    "  4  a file cannot be read or written, or is not a valid profile\n"
    "  5  reset cancelled at the question\n"
    "  6  an internal error of vellox-cli\n";

struct Common {
  std::string Port;
  int TimeoutMs = 1000;
  bool Quiet = false;
  bool NoUsbCheck = false;
  std::string Api = "auto";
};

// A failure with its exit code.
struct Failure {
  int Code;
  std::string Text;
};

void Note(const Common& c, const std::string& text) {
  if (!c.Quiet) std::cerr << "vellox-cli: " << text << "\n";
}

std::shared_ptr<IMidiService> MakeService(const Common& c) {
  const MidiApiChoice api =
      c.Api == "alsa" ? MidiApiChoice::Alsa : c.Api == "jack" ? MidiApiChoice::Jack : MidiApiChoice::Auto;
  try {
    return CreateRtMidiService(api, "vellox-cli");
  } catch (const std::exception& e) {
    throw Failure{ExitNoController, std::string("MIDI is not available: ") + e.what()};
  }
}

std::unique_ptr<TSession> MakeSession(const Common& c) {
  TSessionOptions o;
  o.PortName = c.Port;
  o.Timeout = std::chrono::milliseconds(c.TimeoutMs);
  o.UsbCheck = !c.NoUsbCheck;
  return std::make_unique<TSession>(MakeService(c), o);
}

std::string FirmwareText(int32_t n) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "FW: V%d.%02d", n / 100, n % 100);
  return buf;
}

void WriteOut(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

// ---- commands

int Ports(const Common& c) {
  auto session = MakeSession(c);
  std::string out;
  const auto line = [&](const char* dir, const TPortInfo& p) {
    out += std::string(dir) + " " + std::to_string(p.Index) + "  " + p.Name + (p.Controller ? "  (controller)" : "") +
           "\n";
  };
  for (const auto& p : session->Inputs()) line("input ", p);
  for (const auto& p : session->Outputs()) line("output", p);
  WriteOut(out);
  if (out.empty()) Note(c, "no MIDI ports of other programs (is the controller plugged in?)");
  return ExitOk;
}

int Info(const Common& c) {
  auto session = MakeSession(c);
  const int32_t fw = session->Connect();
  WriteOut(FirmwareText(fw) + "\ninput: " + session->InputName() + "\noutput: " + session->OutputName() + "\n");
  return ExitOk;
}

int Read(const Common& c, const std::string& outPath) {
  std::optional<ProfileFormat> format;
  if (!outPath.empty()) format = FormatOfPath(outPath);  // before talking to the controller
  auto session = MakeSession(c);
  session->Connect();
  const TParaTable table = TableOfDumpBody(session->ReadBody());
  if (const auto problem = ListPositionProblem(table))
    Note(c, "the controller holds " + *problem + "; write and convert take it only with --raw");
  if (!format) {
    WriteOut(ProfileTableText(table, true));
    return ExitOk;
  }
  WriteProfileAs(outPath, table, *format);
  if (*format != ProfileFormat::Syx)
    Note(c, "the controller keeps no names, pad channels and data types, control modes or enable flags: " + outPath +
                " holds the factory defaults for them");
  Note(c, "read the controller's profile into " + outPath);
  return ExitOk;
}

// Sends the table, then reads it back and compares every stored field.
int Send(const Common& c, const TParaTable& table, bool verify, const std::string& what) {
  if (const std::string none = FieldsWithoutSelection(table); !none.empty())
    Note(c, what + ": no selection in " + none + ": sent as 0, as the editor sends it");
  auto session = MakeSession(c);
  session->Connect();
  session->WriteTable(table);
  if (!verify) {
    Note(c, what + " sent and acknowledged (not verified)");
    return ExitOk;
  }
  // Compared with what was sent: a list without a selection went as 0.
  const TParaTable back = TableOfDumpBody(session->ReadBody());
  const auto diffs = CompareDumpFields(TableOfDumpBody(DumpBodyOf(table)), back);
  if (diffs.empty()) {
    Note(c, what + " sent, acknowledged and verified: the controller holds every field as sent");
    return ExitOk;
  }
  for (const auto& d : diffs) std::cerr << "vellox-cli: " << DescribeDifference(d, "sent", "read back") << "\n";
  throw Failure{ExitMismatch, "verification failed: " + std::to_string(diffs.size()) +
                                  (diffs.size() == 1 ? " field differs" : " fields differ") +
                                  " between what was sent and what the controller holds"};
}

int Write(const Common& c, const std::string& path, bool verify, bool raw) {
  const TLoadedProfile p = ReadProfile(path);
  if (!raw) CheckListPositions(p.Table, path);
  for (const auto& n : p.Notes) Note(c, n);
  return Send(c, p.Table, verify, path);
}

int Reset(const Common& c, bool yes, bool verify) {
  if (!yes && isatty(STDIN_FILENO) && isatty(STDERR_FILENO)) {
    std::cerr << "Send the factory profile to the controller? [y/N] " << std::flush;
    std::string answer;
    if (!std::getline(std::cin, answer) || (answer != "y" && answer != "Y" && answer != "yes"))
      throw Failure{ExitCancelled, "reset cancelled: nothing was sent"};
  }
  TParaTable table;
  ApplyFactoryValues(table);
  return Send(c, table, verify, "the factory profile");
}

int Show(const Common& c, const std::string& path) {
  const TLoadedProfile p = ReadProfile(path);
  for (const auto& n : p.Notes) Note(c, n);
  WriteOut(ProfileTableText(p.Table, p.FromDumpOnly));
  return ExitOk;
}

int Diff(const Common& c, const std::string& a, const std::string& b) {
  // Both files are read (and checked) before the controller is asked.
  std::unique_ptr<TSession> session;
  bool dumpOnly = false;
  const auto load = [&](const std::string& side) -> TParaTable {
    if (side != "device") {
      TLoadedProfile p = ReadProfile(side);
      dumpOnly = dumpOnly || p.FromDumpOnly;
      return p.Table;
    }
    return TParaTable{};
  };
  TParaTable ta = load(a), tb = load(b);
  if (a == "device" || b == "device") {
    dumpOnly = true;
    session = MakeSession(c);
    session->Connect();
    const TParaTable t = TableOfDumpBody(session->ReadBody());
    if (a == "device") ta = t;
    if (b == "device") tb = t;
  }
  const auto diffs = dumpOnly ? CompareDumpFields(ta, tb) : CompareAllFields(ta, tb);
  std::string out;
  for (const auto& d : diffs) out += d.Where + ": " + d.Field + " " + d.A + " in " + a + ", " + d.B + " in " + b + "\n";
  WriteOut(out);
  if (dumpOnly) Note(c, "compared the fields the controller stores");
  return diffs.empty() ? ExitOk : ExitMismatch;
}

int Convert(const Common& c, const std::string& in, const std::string& out, bool raw) {
  const ProfileFormat to = FormatOfPath(out);
  const TLoadedProfile p = ReadProfile(in);
  if (!raw) CheckListPositions(p.Table, in);
  if (const std::string none = FieldsWithoutSelection(p.Table); to == ProfileFormat::Syx && !none.empty())
    Note(c, out + ": no selection in " + none + ": the dump holds 0, as the editor sends it");
  for (const auto& n : p.Notes) Note(c, n);
  WriteProfileAs(out, p.Table, to);
  if (to == ProfileFormat::Syx) Note(c, out + " holds only the fields the controller stores");
  return ExitOk;
}

struct MonitorArgs {
  bool Hex = false, Dec = false, Json = false;
  std::vector<std::string> Kinds;
  std::vector<int> Channels;
  long long Count = 0;
};

int Monitor(const Common& c, const MonitorArgs& m) {
  TMonitorFilter filter;
  if (!m.Kinds.empty()) {
    filter.Kinds = 0;
    filter.KindsGiven = true;
    for (const auto& k : m.Kinds) {
      const uint32_t kind = MonitorKindOfName(k);
      if (kind == 0) throw Failure{ExitUsage, "unknown kind \"" + k + "\" (one of " + MonitorKindNames() + ")"};
      filter.Kinds |= kind;
    }
  }
  if (!m.Channels.empty()) {
    filter.Channels = 0;
    for (int ch : m.Channels) filter.Channels |= static_cast<uint16_t>(1u << (ch - 1));
  }
  const MonitorStyle style = m.Json  ? MonitorStyle::Json
                             : m.Hex ? MonitorStyle::Hex
                             : m.Dec ? MonitorStyle::Dec
                                     : MonitorStyle::Decoded;

  // SIGINT and SIGTERM are taken by the loop below, in this thread only: the
  // MIDI service's threads start after this and inherit the mask.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  TMonitorQueue queue;
  auto session = MakeSession(c);
  const std::vector<std::string> names = session->OpenInputs(
      [&queue](int32_t port, uint8_t s, uint8_t d1, uint8_t d2) { queue.PushShort(port, s, d1, d2); },
      [&queue](int32_t port, TByteStream& stream) { queue.PushSysEx(port, stream.Memory(), stream.Size()); });
  std::string opened;
  for (const auto& n : names)
    if (!n.empty()) opened += (opened.empty() ? "" : ", ") + n;
  Note(c, "monitoring " + opened + " (Ctrl+C ends)");

  static char buffer[1 << 16];
  std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
  std::vector<TMonitorEvent> events;
  std::string text;
  long long shown = 0;
  bool stop = false;
  const timespec poll{0, 0};
  while (!stop) {
    queue.TakeAll(events, std::chrono::milliseconds(20));
    text.clear();
    for (const TMonitorEvent& e : events) {
      if (FormatMonitorEvent(e, style, filter, names, text) && m.Count > 0 && ++shown >= m.Count) {
        stop = true;
        break;
      }
    }
    if (!text.empty()) {
      if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0) {
        if (errno == EPIPE) break;  // the reader has gone: that ends the monitor
        throw Failure{ExitFile, std::string("cannot write the output: ") + std::strerror(errno)};
      }
    }
    const int sig = sigtimedwait(&signals, nullptr, &poll);
    if (sig == SIGINT || sig == SIGTERM) stop = true;
  }
  // No callback runs once the ports are closed; what came before is printed.
  session->Close();
  if (m.Count == 0 || shown < m.Count) {
    queue.TakeAll(events, std::chrono::milliseconds(0));
    text.clear();
    for (const TMonitorEvent& e : events) {
      if (FormatMonitorEvent(e, style, filter, names, text) && m.Count > 0 && ++shown >= m.Count) break;
    }
    std::fwrite(text.data(), 1, text.size(), stdout);
  }
  std::fflush(stdout);
  if (queue.Dropped() > 0)
    std::cerr << "vellox-cli: " << queue.Dropped() << " messages were dropped: the output could not keep up\n";
  return ExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  signal(SIGPIPE, SIG_IGN);
  CLI::App app{"vellox-cli: read, write, reset, inspect, convert and monitor the vellox MIDI controller.\n"
               "Profile files: .cus (the editor's), .json (readable), .syx (the parameter dump, for amidi -s).",
               "vellox-cli"};
  app.footer(kExitCodes);
  app.require_subcommand(1);
  app.fallthrough();
  app.set_version_flag("--version", std::string("vellox-cli ") + VLX_VERSION);

  Common c;
  app.add_option("--port", c.Port, "use the MIDI ports of exactly this name (no USB check)");
  app.add_option("--timeout", c.TimeoutMs, "wait this long for each answer of the controller (default 1000)")
      ->check(CLI::Range(1, 600000))
      ->type_name("MS");
  app.add_flag("-q,--quiet", c.Quiet, "no notes on stderr, only errors");
  app.add_flag("--no-usb-check", c.NoUsbCheck,
               "find the controller by its port names only, without its USB id 2F1B:0A07 (a virtual controller)");
  app.add_option("--midi-api", c.Api, "the MIDI service: auto (ALSA, else JACK), alsa or jack")
      ->check(CLI::IsMember({"auto", "alsa", "jack"}));

  int code = ExitOk;
  std::function<int()> run;

  auto* ports = app.add_subcommand("ports", "list the MIDI inputs and outputs; the controller's are marked");
  ports->callback([&] { run = [&] { return Ports(c); }; });

  auto* info = app.add_subcommand("info", "find the controller, ask its identity, print its firmware and ports");
  info->callback([&] { run = [&] { return Info(c); }; });

  std::string readOut;
  auto* read = app.add_subcommand("read", "read the controller's profile; print it, or write FILE");
  read->add_option("-o,--output", readOut, "write the profile to FILE (.cus, .json or .syx)")->type_name("FILE");
  read->callback([&] { run = [&] { return Read(c, readOut); }; });

  std::string writeIn;
  bool noVerify = false;
  auto* write = app.add_subcommand("write", "send a profile file to the controller, then read it back and compare");
  write->add_option("FILE", writeIn, "the profile (.cus, .json or .syx)")->required();
  write->add_flag("--no-verify", noVerify, "do not read the profile back");
  bool raw = false;
  const char* rawHelp = "take list positions the editor has no item for (ARP MODE 5) as they are";
  write->add_flag("--raw", raw, rawHelp);
  write->callback([&] { run = [&] { return Write(c, writeIn, !noVerify, raw); }; });

  bool yes = false;
  auto* reset = app.add_subcommand("reset", "send the factory profile to the controller and verify it");
  reset->add_flag("-y,--yes", yes, "do not ask first (asked only on a terminal)");
  reset->add_flag("--no-verify", noVerify, "do not read the profile back");
  reset->callback([&] { run = [&] { return Reset(c, yes, !noVerify); }; });

  std::string showIn;
  auto* show = app.add_subcommand("show", "print a profile file as a table");
  show->add_option("FILE", showIn, "the profile (.cus, .json or .syx)")->required();
  show->callback([&] { run = [&] { return Show(c, showIn); }; });

  std::string diffA, diffB;
  auto* diff = app.add_subcommand("diff", "compare two profiles field by field; either may be the word device");
  diff->add_option("A", diffA, "a profile file, or device")->required();
  diff->add_option("B", diffB, "a profile file, or device")->required();
  diff->callback([&] { run = [&] { return Diff(c, diffA, diffB); }; });

  std::string convIn, convOut;
  auto* convert = app.add_subcommand("convert", "convert a profile between .cus, .json and .syx");
  convert->add_option("IN", convIn, "the profile to read")->required();
  convert->add_option("OUT", convOut, "the file to write; its extension names the format")->required();
  convert->add_flag("--raw", raw, rawHelp);
  convert->callback([&] { run = [&] { return Convert(c, convIn, convOut, raw); }; });

  MonitorArgs mon;
  auto* monitor = app.add_subcommand("monitor", "print every message the controller sends, one line each");
  auto* hex = monitor->add_flag("--hex", mon.Hex, "the raw bytes in hexadecimal, as the window shows them");
  auto* dec = monitor->add_flag("--dec", mon.Dec, "the raw bytes in decimal, as the window shows them");
  auto* json = monitor->add_flag("--json", mon.Json, "one JSON object per line");
  hex->excludes(dec)->excludes(json);
  dec->excludes(json);
  monitor->add_option("--kind", mon.Kinds, std::string("show only these kinds: ") + MonitorKindNames())
      ->delimiter(',')
      ->type_name("KIND[,KIND...]");
  monitor->add_option("--channel", mon.Channels, "show only channel messages of these channels (1..16)")
      ->delimiter(',')
      ->check(CLI::Range(1, 16))
      ->type_name("N[,N...]");
  monitor->add_option("--count", mon.Count, "end after this many messages")->check(CLI::Range(1LL, 1LL << 62));
  monitor->callback([&] { run = [&] { return Monitor(c, mon); }; });

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // A word that is no command would otherwise be told "A subcommand is
    // required".
    if (dynamic_cast<const CLI::RequiredError*>(&e) && app.get_subcommands().empty() && !app.remaining().empty()) {
      std::string commands;
      for (const CLI::App* sub : app.get_subcommands([](const CLI::App*) { return true; }))
        commands += (commands.empty() ? "" : ", ") + sub->get_name();
      std::cerr << "vellox-cli: no command \"" << app.remaining().front() << "\"; the commands are " << commands
                << " (vellox-cli --help)\n";
      return ExitUsage;
    }
    const int rc = app.exit(e);  // prints help, the version, or the error
    return rc == 0 ? ExitOk : ExitUsage;
  }

  try {
    code = run();
  } catch (const Failure& f) {
    std::cerr << "vellox-cli: " << f.Text << "\n";
    code = f.Code;
  } catch (const ENoController& e) {
    std::cerr << "vellox-cli: " << e.what() << "\n";
    code = ExitNoController;
  } catch (const EProfileFormatError& e) {
    std::cerr << "vellox-cli: " << e.what() << "\n";
    code = ExitFile;
  } catch (const EInOutError& e) {
    std::cerr << "vellox-cli: " << e.what() << "\n";
    code = ExitFile;
  } catch (const EMidiError& e) {
    std::cerr << "vellox-cli: MIDI error: " << e.what() << "\n";
    code = ExitNoController;
  } catch (const std::exception& e) {
    std::cerr << "vellox-cli: internal error: " << e.what() << "\n";
    code = ExitInternal;
  }
  return code;
}

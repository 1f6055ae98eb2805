// vellox-cli: the controller from the command line. Reads, writes (with a
// read-back that checks every stored field), resets, shows, compares and
// converts profiles, and monitors what the controller sends. Data goes to
// stdout, diagnostics to stderr.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "cli/Exit.h"
#include "cli/Doctor.h"
#include "midi/RtMidiService.h"
#include "session/EditorPresence.h"
#include "profile/ProfileFormats.h"
#include "profile/TerminalText.h"
#include "session/Monitor.h"
#include "session/Session.h"

namespace {

using namespace vlx;
using namespace vlx::cli;

struct Common {
  std::string Port;
  int TimeoutMs = 1000;
  bool Quiet = false;
  bool NoUsbCheck = false;
  std::string Api = "auto";
};

void Note(const Common& c, const std::string& text) {
  if (!c.Quiet) Say(text);
}

// The MIDI service, reachable, or Failure with exit code 2 naming what is
// missing.
std::shared_ptr<RtMidiService> MakeService(const Common& c, bool activeSensing = false) {
  const MidiApiChoice api =
      c.Api == "alsa" ? MidiApiChoice::Alsa : c.Api == "jack" ? MidiApiChoice::Jack : MidiApiChoice::Auto;
  std::shared_ptr<RtMidiService> service;
  try {
    service = std::make_shared<RtMidiService>(api, "vellox-cli", false);
  } catch (const std::exception& e) {
    throw Failure{ExitNoController, std::string("no MIDI service: ") + e.what()};
  }
  if (const std::string why = service->Unreachable(); !why.empty()) throw Failure{ExitNoController, why};
  service->SetActiveSensing(activeSensing);
  return service;
}

// The controller sends its dump to every program listening to it: an open
// editor window takes it as its profile. Said once, also with --quiet.
void WarnIfTheEditorListens(IMidiService& service) {
  try {
    if (!EditorIsConnected(service.Inputs(), service.Outputs())) return;
  } catch (const std::exception&) {
    return;  // the session reports a failing service itself
  }
  Say("warning: the editor is running and connected to the controller: its window will take "
      "the controller's profile now; Ctrl+Z there brings its own back");
}

std::unique_ptr<TSession> MakeSession(const Common& c, std::shared_ptr<IMidiService> service) {
  TSessionOptions o;
  o.PortName = c.Port;
  o.Timeout = std::chrono::milliseconds(c.TimeoutMs);
  o.UsbCheck = !c.NoUsbCheck;
  return std::make_unique<TSession>(std::move(service), o);
}

// controllerSendsItsDump: the command makes the controller send its dump.
std::unique_ptr<TSession> MakeSession(const Common& c, bool controllerSendsItsDump = false) {
  auto service = MakeService(c);
  if (controllerSendsItsDump) WarnIfTheEditorListens(*service);
  return MakeSession(c, std::move(service));
}

std::string FirmwareText(int32_t n) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "FW: V%d.%02d", n / 100, n % 100);
  return buf;
}

// ---- files: "-" is standard input or output, with the format given.

ProfileFormat ParseFormat(const std::string& word) {
  if (word == "cus") return ProfileFormat::Cus;
  if (word == "json") return ProfileFormat::Json;
  return ProfileFormat::Syx;  // the option's check allows nothing else
}

ProfileFormat FormatFor(const std::string& path, const std::string& option, const char* optionName) {
  if (!option.empty()) return ParseFormat(option);
  if (path == "-")
    throw Failure{ExitUsage, std::string("- (standard input or output) needs ") + optionName + " cus, json or syx"};
  try {
    return FormatOfPath(path);
  } catch (const EProfileFormatError& e) {
    const auto slash = path.rfind('/');
    const auto dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
      throw Failure{ExitFile, path + ": the name has no extension; the known ones are .cus, .json and .syx (or give " +
                                  optionName + ")"};
    throw Failure{ExitFile, std::string(e.what()) + " (or give " + optionName + ")"};
  }
}

// A failed file operation with the file, the system's reason and, for a
// missing folder, the folder.
[[noreturn]] void FailFile(const std::string& path, const EInOutError& e) {
  // 100 is the editor's own "Read beyond end of file", no system error.
  if (e.ErrorCode <= 0 || e.ErrorCode == 100) throw Failure{ExitFile, e.what()};
  throw Failure{ExitFile, FileErrorText(path == "-" ? "standard input" : path, e.ErrorCode)};
}

TLoadedProfile Load(const Common& c, const std::string& path, ProfileFormat format) {
  TLoadedProfile p;
  try {
    p = ReadProfile(path, format);
  } catch (const EInOutError& e) {
    FailFile(path, e);
  }
  for (const auto& n : p.Notes) Note(c, n);
  return p;
}

// Refuses, before any work is done, to write a binary form to a terminal.
void CheckOutput(const std::string& path, ProfileFormat format) {
  if (path == "-" && format != ProfileFormat::Json && isatty(STDOUT_FILENO))
    throw Failure{ExitUsage, std::string("a .") + FormatName(format) +
                                 " profile is binary: it is not written to a terminal (redirect standard output)"};
}

void Store(const std::string& path, const TParaTable& table, ProfileFormat format) {
  if (path == "-") {
    CheckOutput(path, format);
    const std::vector<uint8_t> bytes = EncodeProfileAs(table, format);
    const std::string text(bytes.begin(), bytes.end());
    // JSON may meet a terminal: DEL and C1 in names are escaped as well.
    WriteOut(format == ProfileFormat::Json ? JsonWithControlsEscaped(text) : text);
    return;
  }
  try {
    WriteProfileAs(path, table, format);
  } catch (const EInOutError& e) {
    FailFile(path, e);
  }
}

// ---- commands

int Ports(const Common& c) {
  auto session = MakeSession(c);
  std::string out;
  const auto line = [&](const char* dir, const TPortInfo& p) {
    out += std::string(dir) + " " + std::to_string(p.Index) + "  " + TerminalSafe(p.Name) +
           (p.Controller ? "  (controller)" : "") + "\n";
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
  WriteOut(FirmwareText(fw) + "\ninput: " + TerminalSafe(session->InputName()) +
           "\noutput: " + TerminalSafe(session->OutputName()) + "\n");
  return ExitOk;
}

int Read(const Common& c, const std::string& outPath, const std::string& formatOption) {
  std::optional<ProfileFormat> format;
  if (!outPath.empty()) {
    format = FormatFor(outPath, formatOption, "--format");  // before talking to the controller
    CheckOutput(outPath, *format);
  }
  auto session = MakeSession(c, true);
  session->Connect();
  const TParaTable table = TableOfDumpBody(session->ReadBody());
  if (const auto problem = ListPositionProblem(table))
    Note(c, "the controller holds " + *problem + "; write and convert take it only with --raw");
  if (!format) {
    WriteOut(ProfileTableText(table, true));
    return ExitOk;
  }
  Store(outPath, table, *format);
  const std::string where = outPath == "-" ? "standard output" : outPath;
  if (*format != ProfileFormat::Syx)
    Note(c, "the controller keeps no names, pad channels and data types, control modes or enable flags: " + where +
                " holds the factory defaults for them");
  Note(c, "read the controller's profile into " + where);
  return ExitOk;
}

// Sends the table, then reads it back and compares every stored field.
int Send(const Common& c, const TParaTable& table, bool verify, const std::string& what) {
  if (const std::string none = FieldsWithoutSelection(table); !none.empty())
    Note(c, what + ": no selection in " + none + ": sent as 0, as the editor sends it");
  auto session = MakeSession(c, verify);
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
  for (const auto& d : diffs) Say(DescribeDifference(d, "sent", "read back"));
  throw Failure{ExitMismatch, "verification failed: " + std::to_string(diffs.size()) +
                                  (diffs.size() == 1 ? " field differs" : " fields differ") +
                                  " between what was sent and what the controller holds"};
}

int Write(const Common& c, const std::string& path, const std::string& formatOption, bool verify, bool raw) {
  const TLoadedProfile p = Load(c, path, FormatFor(path, formatOption, "--format"));
  if (!raw) CheckListPositions(p.Table, path == "-" ? "standard input" : path);
  return Send(c, p.Table, verify, path == "-" ? "the profile from standard input" : path);
}

// Asks on the terminal (the controlling terminal, else the one standard
// input is) and reads one line of answer there. False unless it is yes.
bool AskOnTerminal(const std::string& question) {
  int fd = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    if (const char* name = ::ttyname(STDIN_FILENO)) fd = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  }
  if (fd < 0) throw Failure{ExitCancelled, "reset cancelled: the terminal cannot be opened to ask (" +
                                               std::string(std::strerror(errno)) + "); nothing was sent"};
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  if (::write(fd, question.data(), question.size()) != static_cast<ssize_t>(question.size())) return false;
  std::string answer;
  char ch = 0;
  while (answer.size() < 256) {
    const ssize_t n = ::read(fd, &ch, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || ch == '\n') break;
    answer.push_back(ch);
  }
  if (!answer.empty() && answer.back() == '\r') answer.pop_back();
  return answer == "y" || answer == "Y" || answer == "yes";
}

int Reset(const Common& c, bool yes, bool verify) {
  if (!yes) {
    if (!isatty(STDIN_FILENO))
      throw Failure{ExitCancelled,
                    "reset not confirmed: standard input is no terminal to ask on, so nothing was sent "
                    "(--yes sends the factory profile without asking)"};
    if (!AskOnTerminal("Send the factory profile to the controller? [y/N] "))
      throw Failure{ExitCancelled, "reset cancelled: nothing was sent"};
  }
  TParaTable table;
  ApplyFactoryValues(table);
  return Send(c, table, verify, "the factory profile");
}

int Show(const Common& c, const std::string& path, const std::string& formatOption) {
  const TLoadedProfile p = Load(c, path, FormatFor(path, formatOption, "--format"));
  WriteOut(ProfileTableText(p.Table, p.FromDumpOnly));
  return ExitOk;
}

int Diff(const Common& c, const std::string& a, const std::string& b) {
  // Both files are read (and checked) before the controller is asked.
  std::unique_ptr<TSession> session;
  bool dumpOnly = false;
  const auto load = [&](const std::string& side) -> TParaTable {
    if (side == "-") throw Failure{ExitUsage, "diff compares files or the device, not standard input"};
    if (side != "device") {
      TLoadedProfile p = Load(c, side, FormatFor(side, "", "--format"));
      dumpOnly = dumpOnly || p.FromDumpOnly;
      return p.Table;
    }
    return TParaTable{};
  };
  TParaTable ta = load(a), tb = load(b);
  if (a == "device" || b == "device") {
    dumpOnly = true;
    session = MakeSession(c, true);
    session->Connect();
    const TParaTable t = TableOfDumpBody(session->ReadBody());
    if (a == "device") ta = t;
    if (b == "device") tb = t;
  }
  const auto diffs = dumpOnly ? CompareDumpFields(ta, tb) : CompareAllFields(ta, tb);
  std::string out;
  for (const auto& d : diffs)
    out += TerminalSafe(d.Where + ": " + d.Field + " " + d.A + " in " + a + ", " + d.B + " in " + b) + "\n";
  WriteOut(out);
  if (dumpOnly) Note(c, "compared the fields the controller stores");
  return diffs.empty() ? ExitOk : ExitMismatch;
}

int Convert(const Common& c, const std::string& in, const std::string& out, const std::string& from,
            const std::string& toOption, bool raw) {
  const ProfileFormat to = FormatFor(out, toOption, "--to");  // before anything is read
  CheckOutput(out, to);
  const TLoadedProfile p = Load(c, in, FormatFor(in, from, "--from"));
  if (!raw) CheckListPositions(p.Table, in == "-" ? "standard input" : in);
  if (const std::string none = FieldsWithoutSelection(p.Table); to == ProfileFormat::Syx && !none.empty())
    Note(c, (out == "-" ? "standard output" : out) + ": no selection in " + none + ": the dump holds 0, as the editor sends it");
  Store(out, p.Table, to);
  if (to == ProfileFormat::Syx) Note(c, (out == "-" ? "standard output" : out) + " holds only the fields the controller stores");
  return ExitOk;
}

struct MonitorArgs {
  bool Hex = false, Dec = false, Json = false;
  std::vector<std::string> Kinds;
  std::vector<int> Channels;
  long long Count = 0;
};

// What the monitor holds at most: the queue between the MIDI threads and the
// printing loop, and the text not yet taken by stdout. Beyond the queue's
// budget messages are dropped (and counted); beyond the text's the loop
// takes nothing from the queue. Each message is decoded in time linear in
// its size, and a SysEx message is cut by the port layer at its largest
// size, so the monitor's input costs bounded time and memory.
constexpr std::size_t MonitorQueueBytes = 4u << 20;
constexpr std::size_t MonitorTextBytes = 1u << 20;

// Standard output without blocking the loop: poll, then at most PIPE_BUF
// bytes per write (a pipe that polls writable takes that many at once).
// Every wait also watches the signalfd, so a signal ends it at once.
class MonitorOutput {
 public:
  enum class State { Fine, Signal, ReaderGone };
  std::string Text;  // not yet written, from Sent on
  std::size_t Sent = 0;

  bool Pending() const { return Sent < Text.size(); }
  std::size_t PendingBytes() const { return Text.size() - Sent; }

  // Writes while stdout takes it; waits at most timeoutMs for it to take
  // more. Signal: a signal is waiting on signalFd (not read).
  State Flush(int signalFd, int timeoutMs) {
    while (Pending()) {
      pollfd p[2] = {{STDOUT_FILENO, POLLOUT, 0}, {signalFd, POLLIN, 0}};
      const int n = ::poll(p, 2, timeoutMs);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return State::Fine;
      if (p[1].revents & POLLIN) return State::Signal;
      if (p[0].revents & POLLERR) return State::ReaderGone;  // a pipe whose reader has gone
      const std::size_t chunk = std::min<std::size_t>(PendingBytes(), PIPE_BUF);
      const ssize_t w = ::write(STDOUT_FILENO, Text.data() + Sent, chunk);
      if (w < 0) {
        if (errno == EINTR || errno == EAGAIN) continue;
        if (errno == EPIPE) return State::ReaderGone;
        FailOutput(errno);
      }
      Sent += static_cast<std::size_t>(w);
      timeoutMs = 0;
    }
    Text.clear();
    Sent = 0;
    return State::Fine;
  }
};

// The signal waiting on the signalfd, read; 0 when none is.
int TakeSignal(int signalFd) {
  pollfd p{signalFd, POLLIN, 0};
  signalfd_siginfo info{};
  if (::poll(&p, 1, 0) > 0 && ::read(signalFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info))
    return static_cast<int>(info.ssi_signo);
  return 0;
}

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

  // SIGINT, SIGTERM and SIGPIPE are taken through a signalfd by the loop
  // below, which never blocks in a write: the MIDI service's threads start
  // after this and inherit the mask.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGPIPE);
  ::signal(SIGPIPE, SIG_DFL);  // an ignored signal would never reach the signalfd
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  const int signalFd = ::signalfd(-1, &signals, SFD_CLOEXEC);
  if (signalFd < 0) throw Failure{ExitInternal, std::string("signalfd: ") + std::strerror(errno)};
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{signalFd};

  TMonitorQueue queue(MonitorQueueBytes);
  const bool activeSensing = filter.KindsGiven && (filter.Kinds & KindRealtime);
  const std::shared_ptr<RtMidiService> service = MakeService(c, activeSensing);
  auto session = MakeSession(c, service);
  const auto open = [&] {
    return session->OpenInputs(
        [&queue](int32_t port, uint8_t s, uint8_t d1, uint8_t d2) { queue.PushShort(port, s, d1, d2); },
        [&queue](int32_t port, TByteStream& stream) { queue.PushSysEx(port, stream.Memory(), stream.Size()); });
  };
  std::vector<std::string> names = open();
  std::vector<std::string> watched;  // the client names of the ports opened
  for (const auto& n : names)
    if (!n.empty()) watched.push_back(n);
  std::string opened;
  for (const auto& n : watched) opened += (opened.empty() ? "" : ", ") + n;
  Note(c, "monitoring " + opened + " (Ctrl+C ends)");

  MonitorOutput output;
  std::vector<TMonitorEvent> events;
  long long shown = 0;
  const auto countReached = [&] { return m.Count > 0 && shown >= m.Count; };
  const auto format = [&] {
    for (const TMonitorEvent& e : events) {
      if (countReached()) break;
      if (FormatMonitorEvent(e, style, filter, names, output.Text)) ++shown;
    }
  };
  // Whether the controller's ports are listed; checked once a second.
  const auto listed = [&] {
    for (const MidiPortId& p : service->Inputs())
      if (std::find(watched.begin(), watched.end(), p.Name) != watched.end()) return true;
    return false;
  };
  bool present = true;
  auto nextCheck = std::chrono::steady_clock::now() + std::chrono::seconds(1);

  bool readerGone = false;
  for (;;) {
    // Without text to write the queue is waited on (20 ms at most, so a
    // signal is seen that soon); with text, stdout and the signalfd are.
    if (!countReached() && output.PendingBytes() < MonitorTextBytes) {
      queue.TakeAll(events, std::chrono::milliseconds(output.Pending() ? 0 : 20));
      format();
    }
    if (countReached() && !output.Pending()) break;
    if (const int sig = TakeSignal(signalFd); sig != 0) {
      readerGone = sig == SIGPIPE;
      break;
    }
    const MonitorOutput::State state = output.Flush(signalFd, output.Pending() ? 20 : 0);
    if (state == MonitorOutput::State::ReaderGone) {
      readerGone = true;
      break;
    }
    if (state == MonitorOutput::State::Signal) continue;  // taken at the top
    if (std::chrono::steady_clock::now() >= nextCheck) {
      nextCheck = std::chrono::steady_clock::now() + std::chrono::seconds(1);
      const bool now = listed();
      if (present && !now) {
        Say("the controller has gone (" + opened + " is no longer listed); waiting for it to come back");
      } else if (!present && now) {
        // Its ports are new ones: the monitor's own are opened again.
        session->Close();
        try {
          names = open();
          Say("the controller is back: monitoring " + opened);
        } catch (const ENoController&) {
          continue;  // not complete yet: tried again in a second
        }
      }
      present = now;
    }
  }
  // No callback runs once the ports are closed; what came before is printed
  // as far as stdout takes it within half a second; another signal, or the
  // reader gone, ends that too.
  session->Close();
  if (!readerGone) {
    queue.TakeAll(events, std::chrono::milliseconds(0));
    format();
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
    while (output.Pending() && std::chrono::steady_clock::now() < until) {
      if (output.Flush(signalFd, 20) != MonitorOutput::State::Fine) break;
    }
  }
  if (queue.Dropped() > 0)
    Say(std::to_string(queue.Dropped()) + " messages were dropped: the output could not keep up");
  return ExitOk;
}

// A whole number in lo..hi; a word that is no number is called that.
CLI::Validator NumberIn(long long lo, long long hi) {
  return CLI::Validator(
      [lo, hi](std::string& text) -> std::string {
        long long v = 0;
        const char* end = text.data() + text.size();
        const auto [ptr, ec] = std::from_chars(text.data(), end, v);
        if (text.empty() || ptr != end || ec == std::errc::invalid_argument)
          return "\"" + text + "\" is not a number";
        if (ec == std::errc::result_out_of_range || v < lo || v > hi)
          return text + " is out of range " + std::to_string(lo) + ".." + std::to_string(hi);
        return {};
      },
      std::to_string(lo) + ".." + std::to_string(hi));
}

const std::vector<std::string> kFormats = {"cus", "json", "syx"};

}  // namespace

namespace {

int NoOption(const std::string& word) {
  Say("no option \"" + word + "\" here (vellox-cli --help lists them; a command's own options follow the command)");
  return ExitUsage;
}

int Main(int argc, char** argv) {
  signal(SIGPIPE, SIG_IGN);
  CLI::App app{"vellox-cli: read, write, reset, inspect, convert and monitor the vellox MIDI controller.\n"
               "Profile files: .cus (the editor's), .json (readable), .syx (the parameter dump, for amidi -s).\n"
               "A file named - is standard input or output, with its format given by --format (--from, --to).",
               "vellox-cli"};
  app.footer(kExitCodes);
  app.require_subcommand(1);
  app.fallthrough();
  app.set_version_flag("--version", std::string("vellox-cli ") + VLX_VERSION);

  Common c;
  app.add_option("--port", c.Port, "use the MIDI ports of exactly this name (no USB check)");
  app.add_option("--timeout", c.TimeoutMs, "wait this long for each answer of the controller (default 1000)")
      ->check(NumberIn(1, 600000))
      ->type_name("MS");
  app.add_flag("-q,--quiet", c.Quiet, "no notes on stderr, only errors");
  app.add_flag("--no-usb-check", c.NoUsbCheck,
               "find the controller by its port names only, without its USB id 2F1B:0A07 (a virtual controller)");
  app.add_option("--midi-api", c.Api, "the MIDI service: auto (ALSA, else JACK), alsa or jack")
      ->check(CLI::IsMember({"auto", "alsa", "jack"}));

  std::function<int()> run;

  // Each command: its options, and what it runs.
  auto* ports = app.add_subcommand("ports", "list the MIDI inputs and outputs; the controller's are marked");
  ports->callback([&] { run = [&] { return Ports(c); }; });

  auto* info = app.add_subcommand("info", "find the controller, ask its identity, print its firmware and ports");
  info->callback([&] { run = [&] { return Info(c); }; });

  std::string readOut, readFormat;
  auto* read = app.add_subcommand("read", "read the controller's profile; print it, or write FILE");
  read->add_option("-o,--output", readOut, "write the profile to FILE (.cus, .json or .syx; - is standard output)")
      ->type_name("FILE");
  read->add_option("--format", readFormat, "the format of FILE, whatever its name: cus, json or syx")
      ->check(CLI::IsMember(kFormats));
  read->callback([&] { run = [&] { return Read(c, readOut, readFormat); }; });

  std::string writeIn, writeFormat;
  bool noVerify = false;
  auto* write = app.add_subcommand("write", "send a profile file to the controller, then read it back and compare");
  write->add_option("FILE", writeIn, "the profile (.cus, .json or .syx; - is standard input)")->required();
  write->add_option("--format", writeFormat, "the format of FILE, whatever its name: cus, json or syx")
      ->check(CLI::IsMember(kFormats));
  write->add_flag("--no-verify", noVerify, "do not read the profile back");
  bool raw = false;
  const char* rawHelp = "take list positions the editor has no item for (ARP MODE 5) as they are";
  write->add_flag("--raw", raw, rawHelp);
  write->callback([&] { run = [&] { return Write(c, writeIn, writeFormat, !noVerify, raw); }; });

  bool yes = false;
  auto* reset = app.add_subcommand("reset", "send the factory profile to the controller and verify it");
  reset->add_flag("-y,--yes", yes, "do not ask first (asked on the terminal when standard input is one)");
  reset->add_flag("--no-verify", noVerify, "do not read the profile back");
  reset->callback([&] { run = [&] { return Reset(c, yes, !noVerify); }; });

  std::string showIn, showFormat;
  auto* show = app.add_subcommand("show", "print a profile file as a table");
  show->add_option("FILE", showIn, "the profile (.cus, .json or .syx; - is standard input)")->required();
  show->add_option("--format", showFormat, "the format of FILE, whatever its name: cus, json or syx")
      ->check(CLI::IsMember(kFormats));
  show->callback([&] { run = [&] { return Show(c, showIn, showFormat); }; });

  std::string diffA, diffB;
  auto* diff = app.add_subcommand("diff", "compare two profiles field by field; either may be the word device");
  diff->add_option("A", diffA, "a profile file, or device")->required();
  diff->add_option("B", diffB, "a profile file, or device")->required();
  diff->callback([&] { run = [&] { return Diff(c, diffA, diffB); }; });

  std::string convIn, convOut, convFrom, convTo;
  auto* convert = app.add_subcommand("convert", "convert a profile between .cus, .json and .syx");
  convert->add_option("IN", convIn, "the profile to read (- is standard input)")->required();
  convert->add_option("OUT", convOut, "the file to write; its extension names the format (- is standard output)")
      ->required();
  convert->add_option("--from", convFrom, "the format of IN, whatever its name: cus, json or syx")
      ->check(CLI::IsMember(kFormats));
  convert->add_option("--to", convTo, "the format of OUT, whatever its name: cus, json or syx")
      ->check(CLI::IsMember(kFormats));
  convert->add_flag("--raw", raw, rawHelp);
  convert->callback([&] { run = [&] { return Convert(c, convIn, convOut, convFrom, convTo, raw); }; });

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
      ->check(NumberIn(1, 16))
      ->type_name("N[,N...]");
  monitor->add_option("--count", mon.Count, "end after this many messages")->check(NumberIn(1LL, 1LL << 62));
  monitor->callback([&] { run = [&] { return Monitor(c, mon); }; });

  auto* doctor = app.add_subcommand("doctor", "check, step by step, why the controller is not found, and say what to do");
  doctor->callback([&] { run = [&] { return vlx::cli::Doctor({c.Port, c.TimeoutMs, c.NoUsbCheck, c.Api}); }; });

  try {
    app.parse(argc, argv);
  } catch (const CLI::Success& e) {
    return app.exit(e) == 0 ? ExitOk : ExitUsage;  // --help, --version: printed on stdout
  } catch (const CLI::ParseError& e) {
    // A word that is no command would otherwise be told "A subcommand is
    // required".
    if (dynamic_cast<const CLI::RequiredError*>(&e) && app.get_subcommands().empty() && !app.remaining().empty()) {
      const std::string word = app.remaining().front();
      if (!word.empty() && word[0] == '-') return NoOption(word);
      std::string commands;
      for (const CLI::App* sub : app.get_subcommands([](const CLI::App*) { return true; }))
        commands += (commands.empty() ? "" : ", ") + sub->get_name();
      Say("no command \"" + word + "\"; the commands are " + commands + " (vellox-cli --help)");
      return ExitUsage;
    }
    if (dynamic_cast<const CLI::ExtrasError*>(&e)) {
      // "The following arguments were not expected: 3 --count"
      const std::string what = e.what();
      const auto colon = what.find(": ");
      std::istringstream words(colon == std::string::npos ? what : what.substr(colon + 2));
      for (std::string w; words >> w;)
        if (w.size() > 1 && w[0] == '-') return NoOption(w);
    }
    Say(std::string(e.what()) + " (vellox-cli --help)");
    return ExitUsage;
  }

  int code = ExitOk;
  try {
    code = run();
  } catch (const Failure& f) {
    Say(f.Text);
    code = f.Code;
  } catch (const ENoController& e) {
    std::string text = e.what();
    if (!c.Port.empty()) text += " (vellox-cli ports lists the ports there are)";
    Say(text);
    code = ExitNoController;
  } catch (const EProfileFormatError& e) {
    Say(e.what());
    code = ExitFile;
  } catch (const EInOutError& e) {
    Say(e.what());
    code = ExitFile;
  } catch (const EMidiError& e) {
    Say(std::string("MIDI error: ") + e.what());
    code = ExitNoController;
  } catch (const std::exception& e) {
    Say(std::string("internal error: ") + e.what());
    code = ExitInternal;
  }
  return code;
}

}  // namespace

int main(int argc, char** argv) { return CloseStdout(Main(argc, argv)); }

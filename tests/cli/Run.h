// Runs vellox-cli as a child process with its stdout and stderr collected.
#pragma once

#include <fcntl.h>
#include <stdlib.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

// How the child's standard streams are set up.
struct CliSetup {
  // None: stdin is StdinPath, stderr a pipe. Stdin: stdin is a terminal (a
  // pseudo-terminal, the child's controlling terminal, whose other side is
  // Type() and Tty(), echo included), stderr a pipe. StdinStderr: stderr is
  // that terminal too, read into Err().
  enum class Terminal { None, Stdin, StdinStderr } Tty = Terminal::None;
  std::string StdinPath = "/dev/null";
  // Empty: stdout is a pipe read into Out(). Otherwise this file, opened
  // for writing (/dev/full, for example).
  std::string StdoutPath;
  // stdout is a pipe that nobody reads until the process has ended.
  bool UnreadStdout = false;
  // NAME=VALUE put into the child's environment, over what it inherits.
  std::vector<std::string> Env;
};

class CliProcess {
 public:
  explicit CliProcess(const std::vector<std::string>& args, bool terminal = false)
      : CliProcess(args, Setup(terminal)) {}
  CliProcess(const std::vector<std::string>& args, const CliSetup& setup) {
    int out[2] = {-1, -1}, err[2] = {-1, -1};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    if (setup.StdoutPath.empty()) {
      if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
      posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    } else {
      posix_spawn_file_actions_addopen(&actions, 1, setup.StdoutPath.c_str(), O_WRONLY, 0);
    }
    if (setup.Tty != CliSetup::Terminal::None) {
      // No fork: posix_spawn only, as everywhere here. The child is a new
      // session, so the terminal opened first becomes its controlling
      // terminal (/dev/tty).
      terminal_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
      if (terminal_ < 0 || ::grantpt(terminal_) != 0 || ::unlockpt(terminal_) != 0 || ::ptsname(terminal_) == nullptr)
        throw std::runtime_error("no pseudo-terminal");
      const std::string terminalName = ::ptsname(terminal_);
      posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
      posix_spawn_file_actions_addopen(&actions, 0, terminalName.c_str(), O_RDWR, 0);
      if (setup.Tty == CliSetup::Terminal::StdinStderr)
        posix_spawn_file_actions_addopen(&actions, 2, terminalName.c_str(), O_RDWR | O_NOCTTY, 0);
      ttyIsErr_ = setup.Tty == CliSetup::Terminal::StdinStderr;
    } else {
      posix_spawn_file_actions_addopen(&actions, 0, setup.StdinPath.c_str(), O_RDONLY, 0);
    }
    if (setup.Tty != CliSetup::Terminal::StdinStderr) {
      if (::pipe2(err, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
      posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    }
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<std::string> envText;
    for (char** e = environ; *e; ++e) {
      const std::string entry = *e;
      const auto eq = entry.find('=');
      bool replaced = eq == std::string::npos;
      for (const auto& mine : setup.Env)
        if (mine.compare(0, eq + 1, entry, 0, eq + 1) == 0) replaced = true;
      if (!replaced) envText.push_back(entry);
    }
    envText.insert(envText.end(), setup.Env.begin(), setup.Env.end());
    std::vector<char*> env;
    for (auto& e : envText) env.push_back(e.data());
    env.push_back(nullptr);
    const int rc = posix_spawn(&pid_, argv[0], &actions, &attr, argv.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (out[1] >= 0) ::close(out[1]);
    if (err[1] >= 0) ::close(err[1]);
    if (rc != 0) {
      if (out[0] >= 0) ::close(out[0]);
      if (err[0] >= 0) ::close(err[0]);
      if (terminal_ >= 0) ::close(terminal_);
      throw std::runtime_error("cannot start " + args[0]);
    }
    if (setup.UnreadStdout) {
      unread_ = out[0];
      out[0] = -1;
    }
    reader_ = std::thread([this, o = out[0], e = err[0]] { Read(o, e); });
  }
  ~CliProcess() {
    if (!waited_) {
      ::kill(pid_, SIGKILL);
      Wait();
    }
  }

  // The exit code (128 + signal when killed); kills the child after timeout.
  int Wait(std::chrono::seconds timeout = std::chrono::seconds(30)) {
    if (waited_) return code_;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    int status = 0;
    while (::waitpid(pid_, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    reader_.join();
    if (unread_ >= 0) ::close(unread_);
    unread_ = -1;
    if (terminal_ >= 0) ::close(terminal_);
    terminal_ = -1;
    waited_ = true;
    code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return code_;
  }
  pid_t Pid() const { return pid_; }
  void Signal(int sig) {
    if (!waited_) ::kill(pid_, sig);  // never a process that has been reaped
  }
  // Types on the terminal (a terminal process only).
  void Type(const std::string& text) {
    if (terminal_ < 0 || ::write(terminal_, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
      throw std::runtime_error("cannot type on the terminal");
  }

  std::string Out() {
    std::lock_guard lock(mutex_);
    return out_;
  }
  std::string Err() {
    std::lock_guard lock(mutex_);
    return err_;
  }
  // What the child wrote on its terminal (CliSetup::Terminal::Stdin).
  std::string Tty() {
    std::lock_guard lock(mutex_);
    return tty_;
  }

 private:
  static CliSetup Setup(bool terminal) {
    CliSetup s;
    if (terminal) s.Tty = CliSetup::Terminal::StdinStderr;
    return s;
  }

  void Read(int o, int e) {
    // stdout, stderr and the terminal; a stream that is not there is -1.
    pollfd fds[3] = {{o, POLLIN, 0}, {e, POLLIN, 0}, {terminal_, POLLIN, 0}};
    std::string* into[3] = {&out_, &err_, ttyIsErr_ ? &err_ : &tty_};
    int open = 0;
    for (const auto& f : fds) open += f.fd >= 0;
    char buf[65536];
    while (open > 0) {
      if (::poll(fds, 3, 1000) < 0) break;
      for (int i = 0; i < 3; ++i) {
        if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        // A terminal whose other side has closed reads as an error (EIO).
        const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
        if (n <= 0) {
          if (fds[i].fd != terminal_) ::close(fds[i].fd);  // the terminal is closed after the reader ends
          fds[i].fd = -1;
          --open;
          continue;
        }
        std::lock_guard lock(mutex_);
        into[i]->append(buf, static_cast<std::size_t>(n));
      }
    }
  }

  pid_t pid_ = -1;
  int terminal_ = -1;  // the terminal's other side, kept open until Wait() ends
  bool ttyIsErr_ = false;
  int unread_ = -1;  // the read side of an unread stdout, closed by Wait()
  std::thread reader_;
  std::mutex mutex_;
  std::string out_, err_, tty_;
  bool waited_ = false;
  int code_ = -1;
};

struct CliResult {
  int Code;
  std::string Out, Err;
};

inline CliResult RunCli(std::vector<std::string> args, const CliSetup& setup = {}) {
  args.insert(args.begin(), VLX_CLI_PATH);
  CliProcess p(args, setup);
  const int code = p.Wait();
  return {code, p.Out(), p.Err()};
}

// What the programs printed: whether it holds a part, and its lines.
inline bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The virtual controller program on the JACK server, as a user starts it:
// ready once it has said that its client is up (waited for at most 10 s),
// and ended with SIGTERM as a user ends it, whatever happens (a client killed
// outright holds up a synchronous JACK server until the server gives up on
// it).
class SimProcess : public CliProcess {
 public:
  explicit SimProcess(const std::vector<std::string>& args) : CliProcess(args) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!Contains(Out(), "vellox-sim: JACK client") && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ~SimProcess() {
    Signal(SIGTERM);
    Wait();
  }
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;
};

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
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

class CliProcess {
 public:
  // Starts the program with these arguments; stdin is /dev/null. With
  // terminal, stdin and stderr are a terminal (a pseudo-terminal whose other
  // side is Type() and Err(), echo included), stdout stays a pipe.
  explicit CliProcess(const std::vector<std::string>& args, bool terminal = false) {
    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    std::string terminalName;
    if (terminal) {
      // No fork: posix_spawn only, as everywhere here.
      err[0] = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
      if (err[0] < 0 || ::grantpt(err[0]) != 0 || ::unlockpt(err[0]) != 0 || ::ptsname(err[0]) == nullptr)
        throw std::runtime_error("no pseudo-terminal");
      terminalName = ::ptsname(err[0]);
      err[1] = -1;
      terminal_ = err[0];
      posix_spawn_file_actions_addopen(&actions, 0, terminalName.c_str(), O_RDWR | O_NOCTTY, 0);
      posix_spawn_file_actions_addopen(&actions, 2, terminalName.c_str(), O_RDWR | O_NOCTTY, 0);
    } else {
      if (::pipe2(err, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
      posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
      posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    }
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const int rc = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (err[1] >= 0) ::close(err[1]);
    if (rc != 0) {
      ::close(out[0]);
      ::close(err[0]);
      throw std::runtime_error("cannot start " + args[0]);
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
    if (terminal_ >= 0) ::close(terminal_);
    terminal_ = -1;
    waited_ = true;
    code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return code_;
  }
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

 private:
  void Read(int o, int e) {
    pollfd fds[2] = {{o, POLLIN, 0}, {e, POLLIN, 0}};
    int open = 2;
    char buf[65536];
    while (open > 0) {
      if (::poll(fds, 2, 1000) < 0) break;
      for (int i = 0; i < 2; ++i) {
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
        (i == 0 ? out_ : err_).append(buf, static_cast<std::size_t>(n));
      }
    }
  }

  pid_t pid_ = -1;
  int terminal_ = -1;  // the terminal's other side, kept open until Wait() ends
  std::thread reader_;
  std::mutex mutex_;
  std::string out_, err_;
  bool waited_ = false;
  int code_ = -1;
};

struct CliResult {
  int Code;
  std::string Out, Err;
};

inline CliResult RunCli(std::vector<std::string> args) {
  args.insert(args.begin(), VLX_CLI_PATH);
  CliProcess p(args);
  const int code = p.Wait();
  return {code, p.Out(), p.Err()};
}

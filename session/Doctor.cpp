#include "session/Doctor.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <optional>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "platform/UsbCheck.h"
#include "session/EditorPresence.h"
#include "session/Session.h"
#include "sync/SysEx.h"

namespace vlx {

namespace {

std::string Upper(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return s;
}

// A small sysfs attribute: its first line, without the line end.
std::string Attribute(const std::filesystem::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' ')) line.pop_back();
  return line;
}

std::string Octal(unsigned mode) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%04o", mode & 07777u);
  return buf;
}

std::string UserName(uint32_t uid) {
  std::vector<char> buf(16384);
  passwd pw{};
  passwd* found = nullptr;
  if (::getpwuid_r(uid, &pw, buf.data(), buf.size(), &found) == 0 && found != nullptr) return found->pw_name;
  return "uid " + std::to_string(uid);
}

// The USB id "2F1B:0A07" of the controller, from its device id prefix.
std::string UsbIdText() {
  const std::string id(ControllerUsbId);  // USB\VID_2F1B&PID_0A07
  const std::size_t v = id.find("VID_"), p = id.find("PID_");
  return id.substr(v + 4, 4) + ":" + id.substr(p + 4, 4);
}

struct Checks {
  const TDoctorOptions& o;
  const std::function<void(const TDoctorLine&)>& report;
  std::vector<TDoctorLine> lines;

  void Add(DoctorVerdict v, std::string check, std::string found, std::string advice = {}) {
    lines.push_back({v, std::move(check), std::move(found), std::move(advice)});
    if (report) report(lines.back());
  }
  void Ok(std::string check, std::string found) { Add(DoctorVerdict::Ok, std::move(check), std::move(found)); }
  void Problem(std::string check, std::string found, std::string advice) {
    Add(DoctorVerdict::Problem, std::move(check), std::move(found), std::move(advice));
  }
  void Skip(std::string check, std::string why) { Add(DoctorVerdict::NotChecked, std::move(check), std::move(why)); }

  // Whether the sequencer device may be used by the user.
  bool Sequencer() {
    const std::string& dev = o.SequencerDevice;
    const char* check = "sequencer device";
    if (!o.CheckSequencer) {
      Skip(check, "not used (JACK chosen)");
      return false;
    }
    struct stat st {};
    if (::stat(dev.c_str(), &st) != 0) {
      if (errno == ENOENT) {
        Problem(check, dev + " is missing: the ALSA sequencer is not loaded",
                "load it with `sudo modprobe snd-seq` (and name snd-seq in /etc/modules to load it at every start), "
                "or start a JACK server");
      } else {
        Problem(check, dev + " cannot be examined: " + std::strerror(errno), "check that /dev/snd is readable");
      }
      return false;
    }
    const TUserIdentity& u = o.User;
    const std::string who = u.Name.empty() ? UserName(u.Uid) : u.Name;
    const unsigned mode = st.st_mode;
    const bool inGroup = std::find(u.Groups.begin(), u.Groups.end(), st.st_gid) != u.Groups.end();
    // The mode bits of the class the user falls in, as the kernel takes them.
    bool granted;
    if (u.Uid == 0) {
      granted = true;
    } else if (u.Uid == st.st_uid) {
      granted = (mode & 0600u) == 0600u;
    } else if (inGroup) {
      granted = (mode & 0060u) == 0060u;
    } else {
      granted = (mode & 0006u) == 0006u;
    }
    if (!granted && u.IsProcess && ::faccessat(AT_FDCWD, dev.c_str(), R_OK | W_OK, AT_EACCESS) == 0) granted = true;
    const TGroupInfo group = o.Group ? o.Group(st.st_gid) : TGroupInfo{};
    const std::string groupName = group.Name.empty() ? "gid " + std::to_string(st.st_gid) : group.Name;
    if (granted) {
      Ok(check, dev + " is readable and writable by " + who);
      return true;
    }
    const std::string found = dev + " is not readable and writable by " + who + " (owner " + UserName(st.st_uid) +
                              ", group " + groupName + ", mode " + Octal(mode) + ")";
    const bool groupGrants = (mode & 0060u) == 0060u && st.st_gid != 0 && u.Uid != st.st_uid;
    if (!groupGrants) {
      Problem(check, found,
              "ask the administrator to let " + who + " read and write it (a udev rule for the sequencer device)");
    } else if (std::find(group.Members.begin(), group.Members.end(), who) != group.Members.end()) {
      Problem(check, found,
              who + " is in the group " + groupName + ", but this login is not yet: log out and in again");
    } else {
      Problem(check, found,
              "join the group " + groupName + " with `sudo usermod -aG " + groupName + " " + who +
                  "`, then log out and in again");
    }
    return false;
  }

  std::shared_ptr<IMidiService> Service(bool sequencerUsable) {
    const char* check = "MIDI service";
    if (!o.Connect) {
      Problem(check, "no way to reach a MIDI service", "this is a fault of the program");
      return nullptr;
    }
    try {
      TDoctorService s = o.Connect(sequencerUsable);
      if (s.Service) {
        Ok(check, s.What);
        return s.Service;
      }
      Problem(check, "none", "start a JACK server, or load the ALSA sequencer (`sudo modprobe snd-seq`)");
    } catch (const EMidiError& e) {
      Problem(check, e.what(), "start a JACK server, or load the ALSA sequencer (`sudo modprobe snd-seq`)");
    }
    return nullptr;
  }

  bool Usb() {
    const char* check = "USB device";
    if (!o.UsbCheck || !o.PortName.empty()) {
      Skip(check, o.PortName.empty() ? "not checked (--no-usb-check)" : "not checked (--port)");
      return true;
    }
    const auto devices = FindControllerUsbDevices(o.UsbDevicesDir);
    if (devices.empty()) {
      Problem(check, "no device " + UsbIdText() + " in " + o.UsbDevicesDir,
              "plug the controller in, or try another USB port or cable (`lsusb` lists what is connected); "
              "for a virtual controller use --no-usb-check");
      return false;
    }
    std::string found;
    for (const auto& d : devices) {
      if (!found.empty()) found += "; ";
      found += d.Path + " (" + d.Vendor + ":" + d.Product + (d.Name.empty() ? "" : ", " + d.Name) + ")";
    }
    Ok(check, found);
    return true;
  }
};

}  // namespace

TUserIdentity CurrentUser() {
  TUserIdentity u;
  u.Uid = ::geteuid();
  u.Name = UserName(u.Uid);
  u.Groups.push_back(::getegid());
  const int n = ::getgroups(0, nullptr);
  if (n > 0) {
    std::vector<gid_t> groups(static_cast<std::size_t>(n));
    const int got = ::getgroups(n, groups.data());
    for (int i = 0; i < got; ++i) u.Groups.push_back(groups[static_cast<std::size_t>(i)]);
  }
  u.IsProcess = true;
  return u;
}

TGroupInfo LookUpGroup(uint32_t gid) {
  TGroupInfo info;
  std::vector<char> buf(65536);
  group gr{};
  group* found = nullptr;
  if (::getgrgid_r(gid, &gr, buf.data(), buf.size(), &found) == 0 && found != nullptr) {
    info.Name = found->gr_name;
    for (char** m = found->gr_mem; m != nullptr && *m != nullptr; ++m) info.Members.emplace_back(*m);
  }
  return info;
}

std::vector<TUsbDeviceInfo> FindControllerUsbDevices(const std::string& devicesDir) {
  namespace fs = std::filesystem;
  std::vector<TUsbDeviceInfo> out;
  std::error_code ec;
  fs::directory_iterator it(devicesDir, ec), end;
  const std::string prefix(ControllerUsbId);
  for (; !ec && it != end; it.increment(ec)) {
    const std::string vid = Upper(Attribute(it->path() / "idVendor"));
    const std::string pid = Upper(Attribute(it->path() / "idProduct"));
    if (vid.empty() || pid.empty()) continue;
    const std::string id = "USB\\VID_" + vid + "&PID_" + pid;
    if (id.compare(0, prefix.size(), prefix) != 0) continue;
    TUsbDeviceInfo d{it->path().string(), vid, pid, {}};
    const std::string maker = Attribute(it->path() / "manufacturer"), product = Attribute(it->path() / "product");
    d.Name = maker.empty() ? product : product.empty() ? maker : maker + " " + product;
    out.push_back(std::move(d));
  }
  std::sort(out.begin(), out.end(), [](const auto& a, const auto& b) { return a.Path < b.Path; });
  return out;
}

std::vector<TDoctorLine> RunDoctor(const TDoctorOptions& options,
                                   const std::function<void(const TDoctorLine&)>& report) {
  Checks c{options, report, {}};
  const bool sequencer = c.Sequencer();
  std::shared_ptr<IMidiService> service = c.Service(sequencer);
  const bool usb = c.Usb();
  const char* ports = "controller's ports";
  const char* identity = "identity";
  const char* dump = "dump request";
  const char* editor = "editor";
  if (!service) {
    for (const char* check : {ports, identity, dump, editor}) c.Skip(check, "not checked: no MIDI service");
    return c.lines;
  }

  TSessionOptions so;
  so.PortName = options.PortName;
  so.Timeout = options.Timeout;
  so.UsbCheck = false;  // reported above; the ports are checked whatever it found
  TSession session(service, so);
  const std::string wanted =
      options.PortName.empty() ? "named \"vellox\" (or beginning with \"USB\")" : "\"" + options.PortName + "\"";
  bool portsFound = false;
  try {
    const TSession::TChoice choice = session.Choose();
    TMidiInput& in = session.Module().InputPorts();
    TMidiOutput& out = session.Module().OutputPorts();
    if (choice.Inputs.empty() || choice.Outputs.empty()) {
      const std::string missing = choice.Inputs.empty() && choice.Outputs.empty() ? "no input and no output"
                                  : choice.Inputs.empty()                          ? "no input"
                                                                                   : "no output";
      std::string advice;
      if (!options.PortName.empty()) {
        advice = "check the name with `vellox-cli ports`";
      } else if (usb && options.UsbCheck) {
        advice =
            "the device is on USB but has no MIDI ports: check that the snd-usb-audio module is loaded "
            "(`lsmod | grep snd_usb_audio`), unplug it and plug it in again; `aconnect -l` lists the ports";
      } else {
        advice = "plug the controller in (or start vellox-sim for a virtual one); `vellox-cli ports` lists the ports";
      }
      c.Problem(ports,
                missing + " port " + wanted + " among " + std::to_string(in.Count()) + " inputs and " +
                    std::to_string(out.Count()) + " outputs",
                advice);
    } else {
      std::string names;
      for (int32_t i : choice.Inputs) names += (names.empty() ? "input " : ", input ") + in.Name(i);
      for (int32_t i : choice.Outputs) names += ", output " + out.Name(i);
      c.Ok(ports, names);
      portsFound = true;
    }
  } catch (const EMidiError& e) {
    c.Problem(ports, std::string("the ports cannot be listed: ") + e.what(), "restart the MIDI service");
  }

  bool answered = false;
  if (!portsFound) {
    c.Skip(identity, "not checked: no ports");
  } else {
    try {
      const int32_t fw = session.Connect();
      // The connection is up: three more requests, each timed on its own;
      // the middle time, so that a late answer to one of the connection's
      // repeated requests does not pass for a quick one.
      std::vector<long long> times;
      for (int k = 0; k < 3; ++k) {
        const auto start = std::chrono::steady_clock::now();
        session.Request(IdentityRequestText, IsIdentityReply, "identity reply");
        times.push_back(
            std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count());
      }
      std::sort(times.begin(), times.end());
      const long long us = times[1];
      char text[96];
      std::snprintf(text, sizeof text, "firmware V%d.%02d, answered in %.1f ms on %s", fw / 100, fw % 100,
                    static_cast<double>(us) / 1000.0, session.OutputName().c_str());
      c.Ok(identity, text);
      answered = true;
    } catch (const ENoController& e) {
      const std::string what = e.what();
      if (what.find("cannot be opened") != std::string::npos) {
        c.Problem(identity, what,
                  "another program may hold the device: close it (`fuser -v /dev/snd/*` names it), then try again");
      } else {
        c.Problem(identity, what,
                  "unplug the controller and plug it in again; close other programs that talk to it; "
                  "a longer --timeout helps on a busy machine");
      }
    } catch (const EMidiError& e) {
      c.Problem(identity, std::string("MIDI error: ") + e.what(), "unplug the controller and plug it in again");
    }
  }

  // The controller sends its dump to every program on its ports: an editor
  // connected to it would take the profile as its own, so it is not asked.
  std::optional<bool> editorConnected;
  std::string editorError;
  try {
    editorConnected = EditorIsConnected(service->Inputs(), service->Outputs());
  } catch (const EMidiError& e) {
    editorError = e.what();
  }

  if (!answered) {
    c.Skip(dump, "not checked: no identity answer");
  } else if (editorConnected.value_or(false)) {
    c.Skip(dump, "not asked: the editor is connected to the controller and would take its profile as its own "
                 "(close the editor to check this too)");
  } else {
    try {
      const auto start = std::chrono::steady_clock::now();
      session.ReadBody();
      const auto us =
          std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count();
      char text[64];
      std::snprintf(text, sizeof text, "the profile came back in %.1f ms", static_cast<double>(us) / 1000.0);
      c.Ok(dump, text);
    } catch (const ENoController& e) {
      c.Problem(dump, e.what(),
                "the controller answers its identity but sends no profile: unplug it and plug it in again; "
                "if it stays so, its firmware may need an update");
    } catch (const EMidiError& e) {
      c.Problem(dump, std::string("MIDI error: ") + e.what(), "unplug the controller and plug it in again");
    }
  }

  // The editor's ports are listed by the service like any other program's.
  session.Close();
  if (!editorConnected) {
    c.Skip(editor, "not checked: " + editorError);
  } else if (*editorConnected) {
    c.Ok(editor, "running, with the controller's ports open");
  } else {
    c.Ok(editor, "not running with the controller's ports open (vellox-editor finds it by itself)");
  }
  return c.lines;
}

std::string FormatDoctorLine(const TDoctorLine& line) {
  switch (line.Verdict) {
    case DoctorVerdict::Ok:
      return "ok       " + line.Check + ": " + line.Found;
    case DoctorVerdict::Problem:
      return "PROBLEM  " + line.Check + ": " + line.Found + " -- " + line.Advice;
    case DoctorVerdict::NotChecked:
      break;
  }
  return "-        " + line.Check + ": " + line.Found;
}

int DoctorExitCode(const std::vector<TDoctorLine>& lines) {
  return std::any_of(lines.begin(), lines.end(), [](const TDoctorLine& l) { return l.Verdict == DoctorVerdict::Problem; })
             ? 2
             : 0;
}

}  // namespace vlx

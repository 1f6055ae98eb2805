// Start-up cost of a window program, measured from X events.
//
//   vlx_bench_startup [-n RUNS] [-v] FLOOR EDITOR
//
// Runs FLOOR and EDITOR alternately (the order flips every pair) on the X
// display in DISPLAY, which must have no window manager (an Xvfb of its own:
// tools/bench/startup.sh starts one). For each run it records, from the
// moment before the fork:
//   map    the MapNotify of the program's top-level window,
//   paint  the first DAMAGE on that window after its map (the first picture
//          the program puts into it),
//   rss    the program's resident set one second after the map;
// then ends the program. The X connection is waited on, never polled. It
// prints the median of each figure per program and the ratios EDITOR/FLOOR.
#include <xcb/damage.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <optional>
#include <poll.h>
#include <signal.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point t0, Clock::time_point t) {
  return std::chrono::duration<double, std::milli>(t - t0).count();
}

struct Run {
  double map = 0, paint = 0, rssMb = 0;
};

struct X {
  xcb_connection_t* c = nullptr;
  xcb_window_t root = 0;
  uint8_t damageEvent = 0;  // first event code of the DAMAGE extension
};

long RssKb(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  return -1;
}

// Waits for the next X event for at most ms milliseconds; nullptr on time-out.
xcb_generic_event_t* NextEvent(X& x, int ms) {
  if (xcb_generic_event_t* e = xcb_poll_for_queued_event(x.c)) return e;
  pollfd p{xcb_get_file_descriptor(x.c), POLLIN, 0};
  const int r = poll(&p, 1, std::max(ms, 0));
  if (r <= 0) return nullptr;
  return xcb_poll_for_event(x.c);
}

std::optional<Run> Measure(X& x, const char* program, bool verbose) {
  const Clock::time_point t0 = Clock::now();
  const pid_t pid = fork();
  if (pid < 0) {
    std::perror("fork");
    return std::nullopt;
  }
  if (pid == 0) {
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    // The programs' own messages (no MIDI server, ...) would drown the figures.
    if (int null = open("/dev/null", O_WRONLY); null >= 0) {
      dup2(null, STDOUT_FILENO);
      dup2(null, STDERR_FILENO);
    }
    execl(program, program, static_cast<char*>(nullptr));
    std::fprintf(stderr, "cannot start %s: %s\n", program, std::strerror(errno));
    _exit(127);
  }

  Run run;
  xcb_window_t mapped = 0;
  bool painted = false;
  std::map<xcb_window_t, xcb_damage_damage_t> damages;
  Clock::time_point deadline = t0 + std::chrono::seconds(20);
  Clock::time_point rssAt{};
  bool ok = false;
  for (;;) {
    const Clock::time_point now = Clock::now();
    const Clock::time_point until = mapped && painted ? rssAt : deadline;
    if (now >= until) {
      ok = mapped && painted;
      break;
    }
    xcb_generic_event_t* e = NextEvent(x, static_cast<int>(MsSince(now, until)) + 1);
    if (!e) {
      if (xcb_connection_has_error(x.c)) break;
      continue;
    }
    const Clock::time_point at = Clock::now();
    const uint8_t type = e->response_type & 0x7F;
    if (type == XCB_CREATE_NOTIFY) {
      // Watch every new top-level window for drawing from its creation on,
      // so that no paint can come before the watch.
      auto* ce = reinterpret_cast<xcb_create_notify_event_t*>(e);
      if (ce->parent == x.root && !ce->override_redirect) {
        const xcb_damage_damage_t d = xcb_generate_id(x.c);
        xcb_damage_create(x.c, d, ce->window, XCB_DAMAGE_REPORT_LEVEL_NON_EMPTY);
        xcb_flush(x.c);
        damages[ce->window] = d;
      }
    } else if (type == XCB_MAP_NOTIFY) {
      auto* me = reinterpret_cast<xcb_map_notify_event_t*>(e);
      if (!mapped && !me->override_redirect && damages.count(me->window)) {
        mapped = me->window;
        run.map = MsSince(t0, at);
        rssAt = at + std::chrono::seconds(1);
      }
    } else if (type == x.damageEvent + XCB_DAMAGE_NOTIFY) {
      auto* de = reinterpret_cast<xcb_damage_notify_event_t*>(e);
      if (mapped && de->drawable == mapped && !painted) {
        painted = true;
        run.paint = MsSince(t0, at);
        if (verbose)
          std::printf("    first damage %dx%d at %d,%d\n", de->area.width, de->area.height, de->area.x, de->area.y);
      }
      // Keep reporting on: a damage object reports again only once its
      // region has been emptied.
      xcb_damage_subtract(x.c, de->damage, XCB_NONE, XCB_NONE);
      xcb_flush(x.c);
    }
    free(e);
  }
  if (ok) {
    const long kb = RssKb(pid);
    run.rssMb = kb / 1024.0;
    if (kb < 0) ok = false;
  }
  kill(pid, SIGTERM);
  int status = 0;
  waitpid(pid, &status, 0);
  // The windows went with the program, and their damage objects with them;
  // drop what is still queued.
  free(xcb_get_input_focus_reply(x.c, xcb_get_input_focus(x.c), nullptr));
  while (xcb_generic_event_t* e = xcb_poll_for_event(x.c)) free(e);
  if (!ok) {
    std::fprintf(stderr, "%s: no map and paint within 20 s\n", program);
    return std::nullopt;
  }
  return run;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

struct Figures {
  double map, paint, rss;
};

Figures Medians(const std::vector<Run>& runs) {
  std::vector<double> m, p, r;
  for (const Run& x : runs) {
    m.push_back(x.map);
    p.push_back(x.paint);
    r.push_back(x.rssMb);
  }
  return {Median(m), Median(p), Median(r)};
}

int Usage() {
  std::fprintf(stderr, "usage: vlx_bench_startup [-n RUNS] [-v] FLOOR EDITOR\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 15;
  bool verbose = false;
  int opt;
  while ((opt = getopt(argc, argv, "n:v")) != -1) {
    if (opt == 'n') runs = std::atoi(optarg);
    else if (opt == 'v') verbose = true;
    else return Usage();
  }
  if (argc - optind != 2 || runs < 1) return Usage();
  const char* programs[2] = {argv[optind], argv[optind + 1]};

  X x;
  int screenNumber = 0;
  x.c = xcb_connect(nullptr, &screenNumber);
  if (xcb_connection_has_error(x.c)) {
    std::fprintf(stderr, "cannot open the X display\n");
    return 1;
  }
  const xcb_query_extension_reply_t* ext = xcb_get_extension_data(x.c, &xcb_damage_id);
  if (!ext || !ext->present) {
    std::fprintf(stderr, "the X server has no DAMAGE extension\n");
    return 1;
  }
  x.damageEvent = ext->first_event;
  free(xcb_damage_query_version_reply(x.c, xcb_damage_query_version(x.c, 1, 1), nullptr));
  xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(x.c));
  for (int i = 0; i < screenNumber; ++i) xcb_screen_next(&it);
  x.root = it.data->root;
  const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
  xcb_change_window_attributes(x.c, x.root, XCB_CW_EVENT_MASK, &mask);
  xcb_flush(x.c);

  std::vector<Run> results[2];
  for (int pair = 0; pair < runs; ++pair) {
    for (int k = 0; k < 2; ++k) {
      const int which = pair % 2 ? 1 - k : k;  // floor first on even pairs
      std::optional<Run> r = Measure(x, programs[which], verbose);
      if (!r) return 1;
      results[which].push_back(*r);
      if (verbose)
        std::printf("%-6s run %2d: map %6.1f ms, first paint %6.1f ms, RSS %5.1f MB\n", which ? "editor" : "floor",
                    pair + 1, r->map, r->paint, r->rssMb);
      usleep(200 * 1000);
    }
  }
  const Figures f = Medians(results[0]), e = Medians(results[1]);
  std::printf("medians of %d runs each      floor   editor   ratio\n", runs);
  std::printf("map (ms)                   %7.1f  %7.1f   %.2fx\n", f.map, e.map, e.map / f.map);
  std::printf("first paint (ms)           %7.1f  %7.1f   %.2fx\n", f.paint, e.paint, e.paint / f.paint);
  std::printf("RSS 1 s after the map (MB) %7.1f  %7.1f   %.2fx\n", f.rss, e.rss, e.rss / f.rss);
  xcb_disconnect(x.c);
  return 0;
}

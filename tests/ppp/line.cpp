// The connection daemon's side of one line for the PPP test: opens
// /dev/ttysimN raw, creates the session, starts the given command (pppd on
// that line) and keeps the line open while it runs, since closing any file
// of the line ends its session. Once the command's log shows LCP open both
// ways it installs the keys, as the daemon does after its key exchange, and
// says so in /tmp/lineN.keyed.
//
// usage: ppp-line LINE SID LOCAL_PORT PEER_PORT EVENTS LOG -- COMMAND...
// Commands, one per line, on the FIFO /tmp/lineN.ctl; each answer replaces
// /tmp/lineN.reply:
//   stats                 "frames_sent bytes_sent frames_received bytes_received"
//   filter-on A.B.C.D/N.. rules loaded and filter on: "0" or -errno
//   filter-off            "0" or -errno
//   stop                  SIGTERM to the command, waits for it, deletes the session
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "kmod/records.h"
#include "tests/ppp/keys.h"

namespace {

std::string slurp(const std::string &path) {
  std::ifstream f(path);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

void reply(int line, const std::string &text) {
  std::string path = "/tmp/line" + std::to_string(line) + ".reply";
  std::ofstream(path + ".new") << text << "\n";
  rename((path + ".new").c_str(), path.c_str());
}

int ioctl_result(int fd, unsigned long cmd, const void *arg) { return ioctl(fd, cmd, arg) < 0 ? -errno : 0; }

// "A.B.C.D/N" in network order, as the module compares.
bool parse_rule(const std::string &text, filter_rule &r) {
  size_t slash = text.find('/');
  in_addr a{};
  if (slash == std::string::npos || inet_pton(AF_INET, text.substr(0, slash).c_str(), &a) != 1) return false;
  int bits = std::atoi(text.c_str() + slash + 1);
  if (bits < 0 || bits > 32) return false;
  r.addr = a.s_addr;
  r.mask = htonl(bits == 0 ? 0 : ~0u << (32 - bits));
  return true;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 9 || std::string(argv[7]) != "--") {
    std::fprintf(stderr, "usage: %s LINE SID LOCAL_PORT PEER_PORT EVENTS LOG -- COMMAND...\n", argv[0]);
    return 2;
  }
  int n = std::atoi(argv[1]);
  std::string dev = "/dev/ttysim" + std::to_string(n), log = argv[6];
  auto say = [&](const std::string &s) {
    std::printf("line %d: %s\n", n, s.c_str());
    std::fflush(stdout);
  };

  int fd = open(dev.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    say("cannot open " + dev);
    return 1;
  }
  termios t{};
  tcgetattr(fd, &t);
  cfmakeraw(&t);
  cfsetspeed(&t, B115200);
  tcsetattr(fd, TCSANOW, &t);

  session_setup s{};
  s.sid = std::atoi(argv[2]);
  s.peer_addr = s.local_addr = 0x7F000001;
  s.local_port = static_cast<uint16_t>(std::atoi(argv[3]));
  s.peer_port = static_cast<uint16_t>(std::atoi(argv[4]));
  s.traffic_events = static_cast<uint32_t>(std::atoi(argv[5]));
  if (int r = ioctl_result(fd, TTYSIM_CREATE_SESSION, &s); r != 0) {
    say("session not created: " + std::to_string(r));
    return 1;
  }
  say("session " + std::to_string(s.sid) + " on 127.0.0.1:" + argv[3] + " -> " + argv[4]);

  unlink(("/tmp/line" + std::to_string(n) + ".keyed").c_str());
  std::string ctl = "/tmp/line" + std::to_string(n) + ".ctl";
  unlink(ctl.c_str());
  mkfifo(ctl.c_str(), 0600);
  int cfd = open(ctl.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);

  pid_t child = fork();
  if (child == 0) {
    execvp(argv[8], argv + 8);
    _exit(127);
  }
  std::ofstream("/tmp/line" + std::to_string(n) + ".pid") << child << "\n";

  bool keyed = false;
  int status = 0;
  std::string pending;
  for (;;) {
    if (waitpid(child, &status, WNOHANG) == child) {
      say("command ended with status " + std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : 128));
      child = -1;
      break;
    }
    if (!keyed) {
      std::string l = slurp(log);
      if (l.find("sent [LCP ConfAck") != std::string::npos &&
          l.find("rcvd [LCP ConfAck") != std::string::npos) {
        // pppd logs a frame before writing it, and the module protects what
        // is still in its ring once keyed: the last LCP frame must leave
        // plain, or the far end never sees LCP open. pppd's network phase
        // waits for the keys (its plugin), so nothing else flows meanwhile.
        usleep(300000);
        crypt_setup k = ppp_test::tunnel_keys(n);
        int r = ioctl_result(fd, TTYSIM_SETUP_KEYS, &k);
        explicit_bzero(&k, sizeof k);
        keyed = r == 0;
        say(keyed ? "LCP open, keys installed" : "keys refused: " + std::to_string(r));
        // pppd's plugin holds the network phase until both ends have said so.
        if (keyed) std::ofstream("/tmp/line" + std::to_string(n) + ".keyed") << "1\n";
        if (!keyed) break;
      }
    }
    pollfd p{cfd, POLLIN, 0};
    if (poll(&p, 1, 10) <= 0) continue;
    char buf[512];
    ssize_t got = read(cfd, buf, sizeof buf);
    if (got <= 0) continue;
    pending.append(buf, static_cast<size_t>(got));
    size_t nl;
    bool stop = false;
    while ((nl = pending.find('\n')) != std::string::npos) {
      std::istringstream words(pending.substr(0, nl));
      pending.erase(0, nl + 1);
      std::string cmd;
      words >> cmd;
      if (cmd == "stats") {
        traffic_stats st{};
        int r = ioctl_result(fd, TTYSIM_GET_STATS, &st);
        reply(n, r ? std::to_string(r)
                   : std::to_string(st.frames_sent) + " " + std::to_string(st.bytes_sent) + " " +
                         std::to_string(st.frames_received) + " " + std::to_string(st.bytes_received));
      } else if (cmd == "filter-on") {
        std::vector<filter_rule> rules;
        std::string w;
        bool ok = true;
        while (words >> w) {
          filter_rule r{};
          ok &= parse_rule(w, r);
          rules.push_back(r);
        }
        filter_list_desc64 d{};
        d.rules = reinterpret_cast<uintptr_t>(rules.data());
        d.size = static_cast<uint32_t>(rules.size() * sizeof(filter_rule));
        int r = ok ? ioctl_result(fd, TTYSIM_SET_FILTER_LIST64, &d) : -EINVAL;
        if (r == 0) r = ioctl_result(fd, TTYSIM_FILTER_ON, nullptr);
        reply(n, std::to_string(r));
      } else if (cmd == "filter-off") {
        reply(n, std::to_string(ioctl_result(fd, TTYSIM_FILTER_OFF, nullptr)));
      } else if (cmd == "stop") {
        stop = true;
      }
    }
    if (stop) break;
  }
  if (child > 0) {
    kill(child, SIGTERM);
    for (int i = 0; i < 200 && waitpid(child, &status, WNOHANG) != child; ++i) usleep(50000);
    if (waitpid(child, &status, WNOHANG) == 0) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
    }
  }
  int r = ioctl_result(fd, TTYSIM_DELETE_SESSION, nullptr);
  close(fd);
  close(cfd);
  unlink(ctl.c_str());
  say("session deleted (" + std::to_string(r) + "), line closed");
  reply(n, "stopped");
  return keyed ? 0 : 1;
}

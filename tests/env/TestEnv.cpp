#include "env/TestEnv.h"

#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace testenv {

namespace fs = std::filesystem;

bool InCI() {
  const char* ci = getenv("CI");
  return ci && strcmp(ci, "true") == 0;
}

TempDir::TempDir() {
  std::string tmpl = (fs::temp_directory_path() / "usbink-test-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::string Hex(const std::vector<uint8_t>& bytes) {
  std::string out;
  char two[3];
  for (uint8_t b : bytes) {
    snprintf(two, sizeof two, "%02x", b);
    out += two;
  }
  return out;
}

void WriteFile(const std::string& path, const std::string& text, mode_t mode) {
  fs::create_directories(fs::path(path).parent_path());
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
  }
  chmod(path.c_str(), mode);
}

std::string FindProgram(const std::string& name) {
  std::vector<std::string> dirs = {"/usr/sbin", "/usr/bin", "/sbin", "/bin"};
  if (const char* path = getenv("PATH")) {
    std::stringstream ss(path);
    for (std::string d; std::getline(ss, d, ':');) dirs.push_back(d);
  }
  for (const auto& d : dirs) {
    std::string p = d + "/" + name;
    if (access(p.c_str(), X_OK) == 0) return p;
  }
  return "";
}

namespace {

std::vector<std::string> MergedEnv(const std::vector<std::string>& extra) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    std::string kv = *e;
    std::string key = kv.substr(0, kv.find('='));
    bool overridden = false;
    for (const auto& x : extra) overridden |= x.compare(0, key.size() + 1, key + "=") == 0;
    if (!overridden) env.push_back(kv);
  }
  env.insert(env.end(), extra.begin(), extra.end());
  return env;
}

std::vector<char*> CStrings(std::vector<std::string>& v) {
  std::vector<char*> out;
  for (auto& s : v) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv,
            posix_spawn_file_actions_t* fa) {
  std::vector<std::string> args = argv;
  std::vector<std::string> env = MergedEnv(extraEnv);
  auto cargs = CStrings(args);
  auto cenv = CStrings(env);
  pid_t pid = -1;
  if (posix_spawn(&pid, cargs[0], fa, nullptr, cargs.data(), cenv.data()) != 0) return -1;
  return pid;
}

// Waits for `pid` up to `limit`; true when it was reaped.
bool WaitFor(pid_t pid, int* status, std::chrono::milliseconds limit) {
  auto end = std::chrono::steady_clock::now() + limit;
  for (;;) {
    pid_t r = waitpid(pid, status, WNOHANG);
    if (r == pid) return true;
    if (r < 0 && errno != EINTR) return true;
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

std::string Slurp(int fd) {
  std::string out;
  char buf[4096];
  lseek(fd, 0, SEEK_SET);
  for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) out.append(buf, n);
  return out;
}

int TempFile() {
  char tmpl[] = "/tmp/usbink-run-XXXXXX";
  int fd = mkstemp(tmpl);
  if (fd >= 0) unlink(tmpl);
  return fd;
}

}  // namespace

Process::Process(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv,
                 const std::string& logPath)
    : logPath_(logPath) {
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 1, logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  posix_spawn_file_actions_adddup2(&fa, 1, 2);
  pid_ = Spawn(argv, extraEnv, &fa);
  posix_spawn_file_actions_destroy(&fa);
}

Process::~Process() { Stop(); }

bool Process::running() {
  if (pid_ <= 0) return false;
  if (waitpid(pid_, &status_, WNOHANG) == pid_) {
    pid_ = -1;
    return false;
  }
  return true;
}

bool Process::WaitForLog(const std::string& text, std::chrono::milliseconds limit) {
  auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    if (Log().find(text) != std::string::npos) return true;
    if (!running()) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

int Process::Stop() {
  if (pid_ <= 0) return status_;
  kill(pid_, SIGTERM);
  if (!WaitFor(pid_, &status_, std::chrono::seconds(3))) {
    kill(pid_, SIGKILL);
    WaitFor(pid_, &status_, std::chrono::seconds(3));
  }
  pid_ = -1;
  return status_;
}

RunResult Run(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv,
              std::chrono::milliseconds limit, const std::string& input) {
  RunResult r;
  int in = TempFile(), out = TempFile(), err = TempFile();
  if (write(in, input.data(), input.size()) != static_cast<ssize_t>(input.size())) return r;
  lseek(in, 0, SEEK_SET);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, in, 0);
  posix_spawn_file_actions_adddup2(&fa, out, 1);
  posix_spawn_file_actions_adddup2(&fa, err, 2);
  pid_t pid = Spawn(argv, extraEnv, &fa);
  posix_spawn_file_actions_destroy(&fa);
  if (pid > 0) {
    int status = 0;
    if (!WaitFor(pid, &status, limit)) {
      r.timedOut = true;
      kill(pid, SIGKILL);
      WaitFor(pid, &status, std::chrono::seconds(5));
    }
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.out = Slurp(out);
    r.err = Slurp(err);
  }
  close(in);
  close(out);
  close(err);
  return r;
}

namespace {

bool WriteProcFile(const char* path, const std::string& text) {
  int fd = open(path, O_WRONLY);
  if (fd < 0) return false;
  bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  close(fd);
  return ok;
}

bool BringLoopbackUp() {
  int s = socket(AF_INET, SOCK_DGRAM, 0);
  if (s < 0) return false;
  ifreq ifr{};
  strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
  bool ok = ioctl(s, SIOCGIFFLAGS, &ifr) == 0;
  ifr.ifr_flags |= IFF_UP;
  ok = ok && ioctl(s, SIOCSIFFLAGS, &ifr) == 0;
  close(s);
  return ok;
}

}  // namespace

bool IsolateNetwork(std::string* why) {
  if (unshare(CLONE_NEWNET) != 0) {
    uid_t uid = geteuid();
    gid_t gid = getegid();
    if (unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0) {
      *why = std::string("cannot create a network namespace: ") + strerror(errno);
      return false;
    }
    WriteProcFile("/proc/self/setgroups", "deny");
    WriteProcFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1");
    WriteProcFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1");
  }
  if (!BringLoopbackUp()) {
    *why = std::string("cannot bring up loopback in the namespace: ") + strerror(errno);
    return false;
  }
  return true;
}

}  // namespace testenv

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
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace testenv {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

bool InCI() { return getenv("CI") && strcmp(getenv("CI"), "true") == 0; }

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
  for (uint8_t b : bytes) out += {"0123456789abcdef"[b >> 4], "0123456789abcdef"[b & 15]};
  return out;
}

void WriteFile(const std::string& path, const std::string& text, mode_t mode) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
  chmod(path.c_str(), mode);
}

std::string FindProgram(const std::string& name) {
  const char* path = getenv("PATH");
  std::stringstream dirs("/usr/sbin:/usr/bin:/sbin:/bin:" + std::string(path ? path : ""));
  for (std::string d; std::getline(dirs, d, ':');)
    if (access((d + "/" + name).c_str(), X_OK) == 0) return d + "/" + name;
  return "";
}

namespace {

// The extra entries replace the inherited ones of the same name.
pid_t Spawn(std::vector<std::string> args, const std::vector<std::string>& extraEnv,
            posix_spawn_file_actions_t* fa) {
  std::vector<std::string> env = extraEnv;
  for (char** e = environ; *e; ++e) {
    const std::string kv = *e, key = kv.substr(0, kv.find('=') + 1);
    bool overridden = false;
    for (const auto& x : extraEnv) overridden |= x.compare(0, key.size(), key) == 0;
    if (!overridden) env.push_back(kv);
  }
  std::vector<char*> cargs, cenv;
  for (auto& s : args) cargs.push_back(s.data());
  for (auto& s : env) cenv.push_back(s.data());
  cargs.push_back(nullptr), cenv.push_back(nullptr);
  pid_t pid = -1;
  return posix_spawn(&pid, cargs[0], fa, nullptr, cargs.data(), cenv.data()) == 0 ? pid : -1;
}

// Waits for `pid` up to `limit`; true when it was reaped.
bool WaitFor(pid_t pid, int* status, milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  for (pid_t r; (r = waitpid(pid, status, WNOHANG)) != pid && (r >= 0 || errno == EINTR);) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(milliseconds(5));
  }
  return true;
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
  if (pid_ > 0 && waitpid(pid_, &status_, WNOHANG) == pid_) pid_ = -1;
  return pid_ > 0;
}

bool Process::WaitForLog(const std::string& text, milliseconds limit) {
  for (auto end = std::chrono::steady_clock::now() + limit;
       std::chrono::steady_clock::now() < end && running();
       std::this_thread::sleep_for(milliseconds(10)))
    if (Log().find(text) != std::string::npos) return true;
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
              milliseconds limit, const std::string& input) {
  RunResult r;
  int fds[3];
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  for (int i = 0; i < 3; ++i) {
    char tmpl[] = "/tmp/usbink-run-XXXXXX";
    fds[i] = mkstemp(tmpl);
    unlink(tmpl);
    posix_spawn_file_actions_adddup2(&fa, fds[i], i);
  }
  const bool written = write(fds[0], input.data(), input.size()) == ssize_t(input.size());
  lseek(fds[0], 0, SEEK_SET);
  const pid_t pid = written ? Spawn(argv, extraEnv, &fa) : -1;
  posix_spawn_file_actions_destroy(&fa);
  int status = 0;
  if (pid > 0 && !WaitFor(pid, &status, limit)) {
    kill(pid, SIGKILL);
    WaitFor(pid, &status, std::chrono::seconds(5));
  }
  if (pid > 0) r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  std::string* texts[] = {nullptr, &r.out, &r.err};
  char buf[4096];
  for (int i = 0; i < 3; ++i) {
    lseek(fds[i], 0, SEEK_SET);
    for (ssize_t n; texts[i] && pid > 0 && (n = read(fds[i], buf, sizeof buf)) > 0;)
      texts[i]->append(buf, n);
    close(fds[i]);
  }
  return r;
}

bool IsolateNetwork(std::string* why) {
  const std::string ids[] = {std::to_string(geteuid()), std::to_string(getegid())};
  if (unshare(CLONE_NEWNET) != 0) {
    if (unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0) {
      *why = std::string("cannot create a network namespace: ") + strerror(errno);
      return false;
    }
    std::ofstream("/proc/self/setgroups") << "deny";
    std::ofstream("/proc/self/uid_map") << "0 " + ids[0] + " 1";
    std::ofstream("/proc/self/gid_map") << "0 " + ids[1] + " 1";
  }
  ifreq ifr{};
  strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
  const int s = socket(AF_INET, SOCK_DGRAM, 0);
  bool up = s >= 0 && ioctl(s, SIOCGIFFLAGS, &ifr) == 0;
  ifr.ifr_flags |= IFF_UP;
  up = up && ioctl(s, SIOCSIFFLAGS, &ifr) == 0;
  if (s >= 0) close(s);
  if (!up) *why = std::string("cannot bring up loopback in the namespace: ") + strerror(errno);
  return up;
}

RunResult RunRecipe(const std::string& script, std::vector<std::string> call) {
  const std::string file = __FILE__;
  call.insert(call.begin(), {FindProgram("bash"), "-c", ". \"$0\" && \"$@\"",
                             file.substr(0, file.rfind("/tests/")) + "/scripts/lib/" + script});
  return Run(call);
}

}  // namespace testenv

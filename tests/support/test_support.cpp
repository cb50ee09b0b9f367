#include "support/test_support.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "core/run/flags.h"
#include "core/text.h"
#include "support/limited_cgroup.h"

namespace dravik::testing {

std::unique_ptr<Run> make_run() {
  auto run = std::make_unique<Run>();
  run->cfg.seed = 0x1234567;
  run->st.run_start_time = now_seconds();
  return run;
}

TempDir::TempDir() {
  char tmpl[] = "/tmp/dravik-test-XXXXXX";
  char* made = mkdtemp(tmpl);
  path_ = made ? made : "/tmp";
  chmod(path_.c_str(), 0755);
}

TempDir::~TempDir() {
  std::error_code ec;
  if (path_ != "/tmp") std::filesystem::remove_all(path_, ec);
}

std::string TempDir::write(const std::string& relative, const std::string& content) const {
  const std::string full = path_ + "/" + relative;
  std::filesystem::create_directories(std::filesystem::path(full).parent_path());
  std::ofstream f(full, std::ios::binary | std::ios::trunc);
  f << content;
  return full;
}

std::string dravik_binary() { return DRAVIK_BIN; }
std::string fixture(const std::string& relative) {
  return std::string(DRAVIK_FIXTURES) + "/" + relative;
}

bool is_root() { return geteuid() == 0; }

[[gnu::noinline]] AsWorker::AsWorker() { in_worker = 1; }
[[gnu::noinline]] AsWorker::~AsWorker() { in_worker = 0; }

bool sanitized_build() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  return true;
#else
  return false;
#endif
}

long meminfo_kb_now(const char* key) {
  std::ifstream f("/proc/meminfo");
  std::string line;
  const std::string prefix = std::string(key) + ":";
  while (std::getline(f, line)) {
    if (line.rfind(prefix, 0) == 0) return std::strtol(line.c_str() + prefix.size(), nullptr, 10);
  }
  return -1;
}

namespace {

// Drops to the ordinary user nobody (uid and gid 65534).
bool drop_privileges() {
  if (geteuid() != 0) return true;
  if (setgroups(0, nullptr) != 0) return false;
  if (setgid(65534) != 0) return false;
  if (setuid(65534) != 0) return false;
  return geteuid() == 65534;
}

void read_available(int fd, std::string& into, bool& open_flag) {
  char buf[65536];
  const ssize_t n = read(fd, buf, sizeof buf);
  if (n > 0) {
    into.append(buf, static_cast<size_t>(n));
  } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
    open_flag = false;
  }
}

}  // namespace

ProcResult run_process(const std::vector<std::string>& argv, const ProcOptions& opts) {
  ProcResult result;
  int out_pipe[2], err_pipe[2], in_pipe[2];
  if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0 || pipe(in_pipe) != 0) return result;
  const std::string& cpu_group = own_cpu_cgroup();
  const pid_t pid = fork();
  if (pid < 0) return result;
  if (pid == 0) {
    if (!cpu_group.empty()) join_cgroup(cpu_group);  // a memory group below may follow
    dup2(in_pipe[0], 0);
    dup2(out_pipe[1], 1);
    dup2(err_pipe[1], 2);
    for (int fd : {in_pipe[0], in_pipe[1], out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1]}) {
      close(fd);
    }
    setpgid(0, 0);
    if (!opts.cgroup.empty() && !join_cgroup(opts.cgroup)) _exit(125);
    if (opts.memlock_limit >= 0) {
      rlimit lim{static_cast<rlim_t>(opts.memlock_limit), static_cast<rlim_t>(opts.memlock_limit)};
      setrlimit(RLIMIT_MEMLOCK, &lim);
    }
    if (opts.address_space_limit >= 0) {
      rlimit lim{static_cast<rlim_t>(opts.address_space_limit),
                 static_cast<rlim_t>(opts.address_space_limit)};
      setrlimit(RLIMIT_AS, &lim);
    }
    if (opts.as_nobody && !drop_privileges()) _exit(126);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  close(in_pipe[0]);
  close(out_pipe[1]);
  close(err_pipe[1]);
  if (!opts.stdin_text.empty()) {
    ssize_t ignored = write(in_pipe[1], opts.stdin_text.data(), opts.stdin_text.size());
    (void)ignored;
  }
  close(in_pipe[1]);
  if (opts.on_started) opts.on_started(pid);

  const double deadline = now_seconds() + opts.timeout_s;
  bool out_open = true, err_open = true;
  while (out_open || err_open) {
    pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
    const int ready = poll(fds, 2, 100);
    if (ready > 0) {
      if (out_open && (fds[0].revents & (POLLIN | POLLHUP | POLLERR))) {
        const size_t had = result.out.size();
        read_available(out_pipe[0], result.out, out_open);
        if (opts.on_output && result.out.size() > had) opts.on_output(pid, result.out);
      }
      if (err_open && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) {
        read_available(err_pipe[0], result.err, err_open);
      }
    }
    if (now_seconds() > deadline) {
      result.timed_out = true;
      kill(-pid, SIGKILL);
      kill(pid, SIGKILL);
      break;
    }
  }
  close(out_pipe[0]);
  close(err_pipe[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) {
    result.exit_code = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.term_signal = WTERMSIG(status);
  }
  return result;
}

ProcResult run_dravik(const std::vector<std::string>& args, const ProcOptions& opts) {
  std::vector<std::string> argv{dravik_binary()};
  argv.insert(argv.end(), args.begin(), args.end());
  return run_process(argv, opts);
}

int run_as_nobody(const std::function<int()>& fn) {
  const pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    if (!drop_privileges()) _exit(126);
    _exit(fn());
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace dravik::testing

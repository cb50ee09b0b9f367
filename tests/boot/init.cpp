// The first process of the test boots (tools/test_boot.sh): a static program
// that the initramfs holds beside /dravik and /runs. It mounts what a NAS
// box has mounted (proc, sys, devtmpfs, debugfs, the cgroup hierarchy), then
// runs /dravik once per line of /runs, as root, and prints each run on the
// console between markers the host reads:
//
//   @@run NAME              the run starts
//   @@out TEXT / @@err TEXT one line of its standard output / error
//   @@end NAME exit=N seconds=S   (exit=timeout when it was killed)
//   @@note TEXT             what the host only shows (a failed mount, the
//                           newer calls an old-kernel run tried)
//   @@done                  every run is over; the machine powers off
//
// A line of /runs is "NAME SECONDS FILTER ARG..." (words split at spaces):
// the run is killed after SECONDS; FILTER "old" runs it under a seccomp
// filter that fails every system call newer than Linux 3.10 with ENOSYS, the
// way such a kernel answers, "-" runs it as it is. The output is kept in
// files until the run ends, so the kernel's own console lines cannot split
// it.
#include <fcntl.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <signal.h>
#include <sys/klog.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/reboot.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "newer_syscalls.h"

namespace {

void mount_or_say(const char* source, const char* target, const char* type) {
  mkdir(target, 0755);
  if (mount(source, target, type, 0, nullptr) != 0) {
    dprintf(1, "@@note mount %s on %s: %s\n", type, target, strerror(errno));
  }
}

// The filter: the processor must be the one this program was built for (a
// call of another personality passes untouched), then every listed number
// gives ENOSYS.
std::vector<sock_filter> old_kernel_filter() {
  std::vector<sock_filter> prog;
  prog.push_back(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)));
  prog.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kAuditArch, 1, 0));
  prog.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
  prog.push_back(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)));
  for (const NewerSyscall& call : kNewerSyscalls) {
    prog.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<__u32>(call.nr), 0, 1));
    prog.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOSYS));
  }
  prog.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
  return prog;
}

// The filter logs what it refuses (to the kernel log, read back after the
// run); PR_SET_SECCOMP is the way in when the log flag is refused.
bool install_old_kernel_filter() {
  std::vector<sock_filter> prog = old_kernel_filter();
  sock_fprog fprog{static_cast<unsigned short>(prog.size()), prog.data()};
  if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) return false;
  if (syscall(__NR_seccomp, SECCOMP_SET_MODE_FILTER, SECCOMP_FILTER_FLAG_LOG, &fprog) != 0 &&
      prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &fprog, 0, 0) != 0) {
    return false;
  }
  // The filter is in force: a listed call fails as on the old kernel.
  char byte = 0;
  if (syscall(__NR_getrandom, &byte, 1, 0) != -1 || errno != ENOSYS) {
    dprintf(2, "init: getrandom was not refused under the filter\n");
    _exit(125);
  }
  return true;
}

const char* newer_syscall_name(long nr) {
  for (const NewerSyscall& call : kNewerSyscalls) {
    if (call.nr == nr) return call.name;
  }
  return nullptr;
}

// The kernel log from here on, for the seccomp records of one run.
int open_kernel_log_end() {
  const int fd = open("/dev/kmsg", O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd >= 0) lseek(fd, 0, SEEK_END);
  return fd;
}

// Prints which calls the run tried and the filter refused, by the audit
// records the kernel logged for them ("type=1326 ... syscall=N").
void print_refused(int kmsg, const std::string& name) {
  if (kmsg < 0) return;
  std::vector<std::string> refused;
  char record[8192];
  for (;;) {
    const ssize_t got = read(kmsg, record, sizeof record - 1);
    if (got < 0 && errno == EPIPE) continue;  // records overwritten meanwhile
    if (got <= 0) break;
    record[got] = '\0';
    if (strstr(record, "type=1326") == nullptr || strstr(record, " exe=\"/dravik\"") == nullptr) continue;
    const char* at = strstr(record, " syscall=");
    if (at == nullptr) continue;
    const long nr = strtol(at + 9, nullptr, 10);
    const char* call = newer_syscall_name(nr);
    const std::string word = call != nullptr ? call : "nr " + std::to_string(nr);
    bool seen = false;
    for (const std::string& r : refused) seen = seen || r == word;
    if (!seen) refused.push_back(word);
  }
  close(kmsg);
  std::string list;
  for (const std::string& r : refused) list += (list.empty() ? "" : ", ") + r;
  dprintf(1, "@@note %s: the filter refused %s\n", name.c_str(), list.empty() ? "nothing" : list.c_str());
}

double now() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

void print_prefixed(const char* path, const char* prefix) {
  FILE* f = fopen(path, "r");
  if (f == nullptr) return;
  char* line = nullptr;
  size_t cap = 0;
  ssize_t len = 0;
  while ((len = getline(&line, &cap, f)) >= 0) {
    while (len > 0 && (line[len - 1] == '\n' || line[len - 1] == '\r')) line[--len] = '\0';
    dprintf(1, "%s %s\n", prefix, line);
  }
  free(line);
  fclose(f);
}

std::vector<std::string> words(const std::string& line) {
  std::vector<std::string> out;
  size_t at = 0;
  while (at < line.size()) {
    const size_t start = line.find_first_not_of(' ', at);
    if (start == std::string::npos) break;
    const size_t end = line.find(' ', start);
    out.push_back(line.substr(start, end == std::string::npos ? std::string::npos : end - start));
    at = end == std::string::npos ? line.size() : end;
  }
  return out;
}

// Runs one line of /runs and prints it between its markers.
void run(const std::vector<std::string>& w) {
  const std::string& name = w[0];
  const int limit = atoi(w[1].c_str());
  const bool old = w[2] == "old";
  dprintf(1, "@@run %s\n", name.c_str());
  const int kmsg = old ? open_kernel_log_end() : -1;
  const double started = now();
  const pid_t child = fork();
  if (child == 0) {
    const int out = open("/out.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open("/err.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(out, 1);
    dup2(err, 2);
    std::vector<char*> argv{const_cast<char*>("/dravik")};
    for (size_t i = 3; i < w.size(); ++i) argv.push_back(const_cast<char*>(w[i].c_str()));
    argv.push_back(nullptr);
    if (old && !install_old_kernel_filter()) {
      dprintf(2, "init: the seccomp filter was refused: %s\n", strerror(errno));
      _exit(126);
    }
    execv(argv[0], argv.data());
    dprintf(2, "init: exec /dravik: %s\n", strerror(errno));
    _exit(127);
  }
  int status = 0;
  bool killed = false;
  for (;;) {
    const pid_t got = waitpid(child, &status, WNOHANG);
    if (got == child) break;
    if (!killed && now() - started > limit) {
      kill(child, SIGKILL);
      killed = true;
    }
    usleep(100000);
  }
  print_prefixed("/out.txt", "@@out");
  print_prefixed("/err.txt", "@@err");
  char tail[96];
  if (killed) {
    snprintf(tail, sizeof tail, "exit=timeout seconds=%.1f", now() - started);
  } else if (WIFEXITED(status)) {
    snprintf(tail, sizeof tail, "exit=%d seconds=%.1f", WEXITSTATUS(status), now() - started);
  } else {
    snprintf(tail, sizeof tail, "exit=signal%d seconds=%.1f", WTERMSIG(status), now() - started);
  }
  dprintf(1, "@@end %s %s\n", name.c_str(), tail);
  if (old) print_refused(kmsg, name);
}

}  // namespace

int main() {
  mount_or_say("devtmpfs", "/dev", "devtmpfs");
  const int console = open("/dev/console", O_RDWR);
  if (console >= 0) {
    dup2(console, 0);
    dup2(console, 1);
    dup2(console, 2);
    if (console > 2) close(console);
  }
  mount_or_say("proc", "/proc", "proc");
  mount_or_say("sysfs", "/sys", "sysfs");
  mount_or_say("debugfs", "/sys/kernel/debug", "debugfs");
  mount_or_say("cgroup2", "/sys/fs/cgroup", "cgroup2");
  mount_or_say("tmpfs", "/tmp", "tmpfs");
  // The kernel's own lines stay in its log (the runs read it) and off the
  // console the host parses.
  klogctl(8, nullptr, 1);
  // Every refused call's record reaches the log, not the first ten in five
  // seconds.
  const int burst = open("/proc/sys/kernel/printk_ratelimit_burst", O_WRONLY);
  if (burst >= 0) {
    if (write(burst, "100000", 6) != 6) dprintf(1, "@@note printk_ratelimit_burst: %s\n", strerror(errno));
    close(burst);
  }
  dprintf(1, "@@note the old-kernel runs refuse %zu system calls newer than Linux 3.10\n",
          sizeof kNewerSyscalls / sizeof kNewerSyscalls[0]);

  FILE* runs = fopen("/runs", "r");
  if (runs == nullptr) {
    dprintf(1, "@@note no /runs\n");
  } else {
    char* line = nullptr;
    size_t cap = 0;
    ssize_t len = 0;
    while ((len = getline(&line, &cap, runs)) >= 0) {
      if (len > 0 && line[len - 1] == '\n') line[len - 1] = '\0';
      const std::vector<std::string> w = words(line);
      if (w.size() >= 3 && w[0][0] != '#') run(w);
    }
    free(line);
    fclose(runs);
  }
  dprintf(1, "@@done\n");
  sync();
  reboot(RB_POWER_OFF);
  return 0;
}

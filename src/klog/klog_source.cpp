// Where the kernel log comes from: the /dev/kmsg record stream (followed for
// the whole run), or, without access to it, one read of dmesg's output (the
// program at the path that was checked, started without a shell) or of a
// saved log file before the test.
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/line_reader.h"
#include "klog/klog.h"

namespace dravik {

namespace {

constexpr int32_t kDrainRecords = 256;
// The initial read empties the kernel's buffer so that old records are not
// counted as events of the test; the cap bounds it against a flooding log.
constexpr int32_t kInitialRecordsMax = 65536;
// Line length of the one-shot sources (511 bytes plus terminator); the rest
// of a longer line is skipped. A NUL inside a line becomes a blank, as every
// control byte does in the classifier.
constexpr size_t kLineBuffer = 512;
// A record's text is at most 2047 bytes; the kernel hands out records of up
// to 8 KiB (non-printable bytes expand to \xNN) and consumes a record whose
// read buffer is too small, so the read buffer is the kernel's maximum and
// the text is cut afterwards.
constexpr size_t kRecordMax = 2047;
constexpr size_t kReadBuffer = 8192;

void set_source(KlogMonitor& m, const char* name) {
  snprintf(m.source, sizeof m.source, "%s", name);
  m.available = strcmp(name, "none") != 0;
}

// Only an absolute path names one program whatever the working directory.
bool executable_file(const std::string& path) {
  struct stat sb {};
  return path.size() > 1 && path[0] == '/' && stat(path.c_str(), &sb) == 0 &&
         S_ISREG(sb.st_mode) && access(path.c_str(), X_OK) == 0;
}

bool readable_file(const std::string& path) {
  FILE* f = fopen(path.c_str(), "re");
  if (f == nullptr) return false;
  fclose(f);
  return true;
}

// One read of the record stream; returns the records read (skipped ones
// included), stopping early when nothing is pending or the read fails.
int32_t drain_records(KlogContext& run, int32_t max_records) {
  KlogMonitor& m = run.klog;
  if (m.fd < 0) return 0;
  char buf[kReadBuffer];
  int32_t records = 0;
  while (records < max_records) {
    const ssize_t n = read(m.fd, buf, sizeof buf - 1);
    if (n <= 0) break;
    ++records;
    buf[std::min(static_cast<size_t>(n), kRecordMax)] = '\0';
    char* semi = strchr(buf, ';');
    if (semi == nullptr) continue;
    *semi = '\0';
    unsigned long priority = 0;
    unsigned long long sequence = 0, usec = 0;
    const int fields = sscanf(buf, "%lu,%llu,%llu", &priority, &sequence, &usec);
    const double ts = (fields >= 3 && usec != 0) ? static_cast<double>(usec) / 1e6 : -1.0;
    klog_classify(run, semi + 1, ts);
  }
  return records;
}

// The environment of the dmesg program: a fixed search path for a program
// that is a script, nothing inherited.
char kDmesgPath[] = "PATH=/usr/sbin:/usr/bin:/sbin:/bin";
char* const kDmesgEnvironment[] = {kDmesgPath, nullptr};

// Starts program (no arguments, no shell, no search of PATH) with its
// standard output on a pipe, its input and errors on /dev/null, and SIGPIPE
// at its default so that it ends when the reader stops. Returns the read end
// of the pipe, or -1 when it did not start; *pid is the child.
int start_program(const std::string& program, pid_t* pid) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attr);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);
  char* const argv[] = {const_cast<char*>(program.c_str()), nullptr};
  const int failed = posix_spawn(pid, program.c_str(), &actions, &attr, argv, kDmesgEnvironment);
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  if (failed != 0) {
    close(fds[0]);
    return -1;
  }
  return fds[0];
}

// Lines of dmesg's output: "[ts] text", or a whole line without a time stamp.
void classify_dmesg_lines(KlogContext& run, FILE* f) {
  for_each_line<kLineBuffer>(
      f,
      [&run](char* line) {
        const char* close = line[0] == '[' ? strchr(line, ']') : nullptr;
        if (close == nullptr) {
          klog_classify(run, line, -1.0);
          return false;
        }
        char* end = nullptr;
        double ts = strtod(line + 1, &end);
        if (end == line + 1 || end > close || !std::isfinite(ts)) ts = -1.0;
        klog_classify(run, close + 1, ts);
        return false;
      },
      ' ');
}

}  // namespace

void klog_setup(KlogContext& run) { klog_setup(run, klog_default_dmesg_programs()); }

void klog_setup(KlogContext& run, const std::vector<std::string>& dmesg_programs) {
  klog_close(run);
  KlogMonitor& m = run.klog;
  m = KlogMonitor{};
  m.enabled = run.klog_enabled ? 1 : 0;
  if (!m.enabled) return;

  m.fd = open(run.paths.kmsg.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (m.fd >= 0) {
    set_source(m, "kmsg");
    return;
  }
  for (const std::string& program : dmesg_programs) {
    if (executable_file(program)) {
      set_source(m, "dmesg");
      m.dmesg_program = program;
      return;
    }
  }
  if (readable_file(run.paths.dmesg_log)) set_source(m, "logfile");
}

void klog_initial_read(KlogContext& run) {
  KlogMonitor& m = run.klog;
  if (!m.enabled || !m.available) return;
  if (strcmp(m.source, "kmsg") == 0) {
    int32_t total = 0;
    while (total < kInitialRecordsMax) {
      const int32_t got = drain_records(run, kDrainRecords);
      total += got;
      if (got < kDrainRecords) break;
    }
  } else if (strcmp(m.source, "dmesg") == 0) {
    // A refused dmesg prints nothing: the log is not watched, rather than
    // watched and silent.
    if (!klog_read_dmesg(run, m.dmesg_program)) m.available = 0;
  } else if (strcmp(m.source, "logfile") == 0) {
    klog_read_logfile(run, run.paths.dmesg_log);
  }
  klog_take_baseline(run);
  m.entries_before_start = m.crit + m.warn + m.info;
}

bool klog_read_dmesg(KlogContext& run, const std::string& program) {
  pid_t pid = -1;
  const int fd = start_program(program, &pid);
  if (fd < 0) return false;
  FILE* pipe = fdopen(fd, "r");
  const bool opened = pipe != nullptr;
  if (opened) {
    classify_dmesg_lines(run, pipe);
    fclose(pipe);  // before the wait: a program still writing ends on SIGPIPE
  } else {
    close(fd);
  }
  int status = 0;
  pid_t waited = -1;
  do {
    waited = waitpid(pid, &status, 0);
  } while (waited < 0 && errno == EINTR);
  return opened && waited == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void klog_read_logfile(KlogContext& run, const std::string& path) {
  FILE* f = fopen(path.c_str(), "re");
  if (f == nullptr) return;
  for_each_line<kLineBuffer>(
      f,
      [&run](char* line) {
        klog_classify(run, line, -1.0);
        return false;
      },
      ' ');
  fclose(f);
}

void klog_drain(KlogContext& run) { drain_records(run, kDrainRecords); }

void klog_close(KlogContext& run) {
  if (run.klog.fd >= 0) close(run.klog.fd);
  run.klog.fd = -1;
}

}  // namespace dravik

// /dev/kmsg records: the input, cut at 0x1e bytes, is a series of records
// handed out one per read (as /dev/kmsg does) by a datagram socket.
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/run/run.h"
#include "fuzz_input.h"
#include "klog/klog.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static dravik::Run* const run = new dravik::Run();
  int fds[2];
  if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK, 0, fds) != 0) return 0;
  const int big = 1 << 20;
  setsockopt(fds[1], SOL_SOCKET, SO_SNDBUF, &big, sizeof big);
  run->klog = dravik::KlogMonitor{};
  run->klog.fd = fds[0];
  snprintf(run->klog.source, sizeof run->klog.source, "kmsg");
  run->klog.available = 1;
  size_t sent = 0;
  for (const std::string& record : dravik::fuzz::split_input(data, size, '\x1e')) {
    if (send(fds[1], record.data(), record.size(), 0) < 0) break;
    ++sent;
  }
  close(fds[1]);
  for (size_t drains = 0; drains <= sent / 256 + 1; ++drains) dravik::klog_drain(*run);
  if (run->klog.entries < 0 || run->klog.entries > dravik::KlogMonitor::kRing) abort();
  dravik::klog_close(*run);
  return 0;
}

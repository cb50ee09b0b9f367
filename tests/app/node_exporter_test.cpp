// node-exporter's textfile collector serves what dravik writes: a real
// prometheus-node-exporter on a loopback port reads the scratch folder that a
// real run wrote its metrics to, and a run with a planted fault shows in what
// it serves next. Skipped without the exporter (Debian package
// prometheus-node-exporter).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>

#include "app/app.h"
#include "core/flags.h"
#include "core/text.h"
#include "report/json/json_sink.h"
#include "support/prometheus_tools.h"
#include "support/test_support.h"

namespace dravik {
namespace {

// A loopback port nobody listens on right now.
int free_port() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  close(fd);
  return ntohs(addr.sin_port);
}

// GET /metrics; empty while nothing answers on the port.
std::string get_metrics(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string reply;
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
    const std::string request = "GET /metrics HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
    if (write(fd, request.data(), request.size()) == static_cast<ssize_t>(request.size())) {
      char buf[65536];
      for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) reply.append(buf, static_cast<size_t>(n));
    }
  }
  close(fd);
  return reply;
}

// The value the exporter serves for the series (its labels as it sorts them);
// NaN when it serves none.
double served(const std::string& body, const std::string& series) {
  const std::string line = testing::lines_starting(body, series + " ");
  return line.empty() ? NAN : strtod(line.c_str() + series.size() + 1, nullptr);
}

TEST(NodeExporter, ServesTheSeriesOfARealRunAndOfAFailedOne) {
  const std::string exporter = testing::find_program("prometheus-node-exporter");
  if (exporter.empty()) GTEST_SKIP() << "no prometheus-node-exporter";
  testing::TempDir dir;
  const int port = free_port();
  const pid_t pid = fork();
  if (pid == 0) {
    freopen("/dev/null", "w", stdout);
    freopen("/dev/null", "w", stderr);
    execl(exporter.c_str(), exporter.c_str(),
          ("--web.listen-address=127.0.0.1:" + std::to_string(port)).c_str(),
          "--collector.disable-defaults", "--collector.textfile",
          ("--collector.textfile.directory=" + dir.path()).c_str(), nullptr);
    _exit(127);
  }
  // The exporter answers once it is up: wait for that, not for a time.
  std::string body;
  for (const double deadline = now_seconds() + 60; body.empty() && now_seconds() < deadline;) {
    body = get_metrics(port);
    if (body.empty()) usleep(50000);
  }
  ASSERT_NE(body.find("200 OK"), std::string::npos) << "the exporter never answered";

  const std::string metrics = dir.sub("dravik.prom");
  const auto pass = testing::run_dravik({"--json", "--quick", "--mem", "16M", "--no-klog", "--metrics", metrics});
  EXPECT_EQ(pass.exit_code, 0) << pass.err;
  const std::string labels = "{mode=\"PRODUCTION\",tier=\"quick\"";
  body = get_metrics(port);
  EXPECT_EQ(served(body, "node_textfile_scrape_error"), 0.0) << body;
  EXPECT_EQ(served(body, "dravik_last_run_verdict" + labels + ",verdict=\"PASS\",version=\"0.6.0\"}"), 1.0);
  EXPECT_EQ(served(body, "dravik_last_run_tested_bytes" + labels + ",version=\"0.6.0\"}"), 16 << 20);

  // The same run with a bit that flips after every flush: a hard fault.
  auto run = testing::make_run();
  run->after_flush = [](const TestBlock& b) { b.base[123] ^= 1ull << 5; };
  const char* argv[] = {"dravik", "--json", "--quick", "--mem", "16M", "--no-klog", "--metrics", metrics.c_str()};
  FILE* stream = tmpfile();
  set_json_output(stream);
  EXPECT_EQ(run_program(*run, 8, argv), 1);
  set_json_output(nullptr);
  fclose(stream);
  reset_process_flags();
  body = get_metrics(port);
  EXPECT_EQ(served(body, "node_textfile_scrape_error"), 0.0) << body;
  EXPECT_EQ(served(body, "dravik_last_run_verdict" + labels + ",verdict=\"FAIL\",version=\"0.6.0\"}"), 1.0);
  EXPECT_EQ(served(body, "dravik_last_run_verdict" + labels + ",verdict=\"PASS\",version=\"0.6.0\"}"), 0.0);
  EXPECT_GE(served(body, "dravik_last_run_hard_faults" + labels + ",version=\"0.6.0\"}"), 1.0);
  EXPECT_EQ(served(body, "dravik_last_run_exit_status" + labels + ",version=\"0.6.0\"}"), 1.0);
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
}

}  // namespace
}  // namespace dravik

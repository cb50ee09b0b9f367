// The page itself: well-formed for a real HTML parser, every string from
// the stream escaped, nothing fetched and no script, under 1 MB with the
// fault log full, and the trend strip read from the history's tail only,
// never through a link or from something that is not a file.
#include "report/html/page/report_page.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "report/html/history_trend.h"
#include "report/html/stream/reader.h"
#include "support/test_support.h"

namespace dravik::html {
namespace {

const std::string kChecker = std::string(DRAVIK_FIXTURES) + "/../report/html/page_check.py";

// What page_check.py makes of a page: problems, texts by id, table rows.
nlohmann::json checked(const std::string& page) {
  testing::TempDir dir;
  const std::string path = dir.write("page.html", page);
  const testing::ProcResult r = testing::run_process({"/usr/bin/python3", kChecker, path});
  return nlohmann::json::parse(r.out);
}

RunRecord record_of(const std::string& stream) {
  StreamReader reader;
  reader.feed(stream);
  reader.finish();
  return reader.record();
}

// A fault line of the stream with fields at the widths the run writes at most.
std::string wide_fault(int i, int count) {
  char line[512];
  snprintf(line, sizeof line,
           R"({"event":"fault","vaddr":"0x7fffffff%06x","paddr":"0x%013x","dimm":"%s","expected":"0x%016x","actual":"0x%016x","xor":"0xffffffffffffffff","bits":64,"test":"movinv-rand-dual-blocks","class":"%s","count":%d})",
           i, i * 64 + 0x100000, i % 2 ? "CPU0_DIMM_A1 BANK 0 Channel A DIMM 0 xx" : "P1-DIMMB2",
           i, ~i, i % 3 ? "hard" : "transient", count);
  return line;
}

TEST(ReportPage, HostileTextIsEscapedAndThePageFetchesNothing) {
  const std::string evil = R"(<script>alert(1)</script><img src=x onerror=y> \" & ' \u0000 )";
  std::string stream =
      R"({"event":"start","mode":"PRODUCTION","profile":"quick","version":")" + std::string("0.6.0<b>") +
      R"("})" "\n" + R"({"event":"klog","level":"crit","tag":"mce","text":")" + evil +
      R"(","count":1,"kts":1.0})" "\n" + R"({"event":"fault","paddr":"0x10","dimm":")" + evil +
      R"(","test":"</td></tr></table>","expected":"0x0","actual":"0x1","class":"hard","count":2})" "\n" +
      R"({"event":"run_end","mode":"PRODUCTION","host":"<h1>box</h1>","options":["--report","a b'c"]})" "\n" +
      "{\"event\":\"log\",\"msg\":\"\xff\xfe bad bytes\"}\n";
  const std::string page = render_report(record_of(stream), nullptr);
  EXPECT_EQ(page.find("<script"), std::string::npos);
  EXPECT_EQ(page.find("<img"), std::string::npos);
  EXPECT_EQ(page.find("http"), std::string::npos);
  EXPECT_EQ(page.find("<h1>box"), std::string::npos);
  EXPECT_NE(page.find("&lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos);
  const nlohmann::json c = checked(page);
  EXPECT_TRUE(c["problems"].empty()) << c["problems"];
  EXPECT_EQ(c["tables"]["fault-table"][1][1], "</td></tr></table>");
}

TEST(ReportPage, AFullFaultLogStaysUnderOneMegabyteWithOneRowPerRecord) {
  std::string stream = R"({"event":"start","mode":"OFFLINE","profile":"standard"})" "\n";
  // Every record seen twice: the table has a row per record with its count.
  for (int pass = 1; pass <= 2; ++pass) {
    for (int i = 0; i < 4096; ++i) stream += wide_fault(i, pass) + "\n";
  }
  stream += R"({"event":"fault","paddr":"0xdead","class":"hard","count":1})" "\n";  // one past the log
  const RunRecord r = record_of(stream);
  EXPECT_EQ(r.faults.size(), 4096u);
  EXPECT_EQ(r.faults_dropped, 1);
  const std::string page = render_report(r, nullptr);
  EXPECT_LT(page.size(), 1000000u);
  const nlohmann::json c = checked(page);
  EXPECT_TRUE(c["problems"].empty()) << c["problems"];
  ASSERT_EQ(c["tables"]["fault-table"].size(), 4097u);  // the head and 4,096 rows
  for (const auto& row : c["tables"]["fault-table"]) {
    if (row[0] != "Physical address") {
      EXPECT_EQ(row.back(), "2");
    }
  }
}

TEST(ReportPage, TheTrendStripReadsTheHistoryTailAndRefusesWhatIsNotAFile) {
  testing::TempDir dir;
  std::string lines;
  for (int i = 0; i < 40; ++i) {
    lines += R"({"event":"summary","verdict":")" + std::string(i == 39 ? "FAIL" : "PASS") +
             R"(","hard":)" + std::to_string(i == 39 ? 1 : 0) +
             R"(,"transient":0,"edac_delta":{"ce":)" + std::to_string(i) +
             R"(,"ue":0},"start":"2024-01-)" + std::to_string(10 + i % 20) + R"(T00:00:00Z","exit_status":0})" "\n";
  }
  const std::string history = dir.write("history.jsonl", "torn line\n" + lines);
  std::vector<HistoryEntry> runs;
  std::string error;
  ASSERT_TRUE(read_history_tail(history, &runs, &error)) << error;
  ASSERT_EQ(runs.size(), 30u);  // the latest 30
  EXPECT_EQ(runs.back().verdict, "FAIL");
  EXPECT_EQ(runs.back().faults, 1);
  EXPECT_EQ(runs.back().corrected, 39);
  // Only the tail is read: from the middle of a 3 GiB file, the first piece of line dropped.
  const std::string big = dir.sub("big.jsonl");
  {
    std::ofstream f(big);
    f << "x";
  }
  ASSERT_EQ(truncate(big.c_str(), 3ll << 30), 0);
  {
    std::ofstream f(big, std::ios::app);
    f << lines;
  }
  ASSERT_TRUE(read_history_tail(big, &runs, &error, 4096)) << error;
  EXPECT_FALSE(runs.empty());
  EXPECT_LE(runs.size(), 4096u / 100);
  // A link, a FIFO and a folder in its place are refused; the FIFO without waiting for a writer.
  ASSERT_EQ(symlink(history.c_str(), dir.sub("link.jsonl").c_str()), 0);
  ASSERT_EQ(mkfifo(dir.sub("fifo.jsonl").c_str(), 0600), 0);
  ASSERT_EQ(mkdir(dir.sub("dir.jsonl").c_str(), 0700), 0);
  for (const char* name : {"link.jsonl", "fifo.jsonl", "dir.jsonl"}) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(read_history_tail(dir.sub(name), &runs, &error));
    EXPECT_EQ(error, dir.sub(name) + " is not a regular file");
  }
  const std::string page = render_report(record_of(""), &runs, "The history could not be read: " + error);
  EXPECT_NE(page.find("The history could not be read"), std::string::npos);
}

}  // namespace
}  // namespace dravik::html

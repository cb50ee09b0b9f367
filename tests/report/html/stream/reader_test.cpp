// The stream reader on what a saved stream can be: whole, torn in the
// middle, cut at the end, another program's, empty, binary, nested too deep.
// Each renders a page that says what was missing; none crashes. Pieces of
// any size give the record the whole stream gives.
#include "report/html/stream/reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "report/html/page/report_page.h"

namespace dravik::html {
namespace {

// A small fault-test stream as --json writes it: one cell seen twice
// (hard) and one seen once, two tests over one 16 MiB region.
const std::vector<std::string> kRun = {
    R"({"event":"start","ts":1.0,"version":"0.6.0","mode":"PRODUCTION","profile":"quick","mem_total":1073741824,"seed":"0x00000000000000aa","cache":{"l1":32768,"l2":1048576,"l3":0},"edac_before":{"ce":0,"ue":0}})",
    R"({"event":"map","cols":4,"rows":2,"cells":8,"bytes_per_cell":4194304,"logical":false,"base":0,"span":33554432,"cell_states":"33781111"})",
    R"({"event":"cell","active_lo":0,"active_hi":3,"win":1})",
    R"({"event":"phase","test":"stuck-addr","pass":1,"total_passes":1,"pct":0})",
    R"({"event":"progress","covered":0,"total":16777216,"elapsed":0.0,"algo":"stuck-addr"})",
    R"({"event":"progress","covered":0,"total":16777216,"elapsed":0.5,"algo":"checker"})",
    R"({"event":"fault","vaddr":"0x7f0000001000","paddr":"0x1000","dimm":"DIMM_A1","expected":"0x0000000000000000","actual":"0x0000000000000020","xor":"0x0000000000000020","bits":1,"test":"checker","class":"transient","count":1})",
    R"({"event":"fault","vaddr":"0x7f0000001000","paddr":"0x1000","dimm":"DIMM_A1","expected":"0x0000000000000000","actual":"0x0000000000000020","xor":"0x0000000000000020","bits":1,"test":"movinv-rand","class":"hard","count":2})",
    R"({"event":"fault","vaddr":"0x7f0000009000","paddr":"0x0","dimm":"","expected":"0xffffffffffffffff","actual":"0xfffffffffffffffe","xor":"0x0000000000000001","bits":1,"test":"checker","class":"transient","count":1})",
    R"({"event":"progress","covered":16777216,"total":16777216,"elapsed":1.5,"algo":"checker"})",
    R"({"event":"klog","level":"crit","tag":"mce","text":"mce: [Hardware Error] <b>","count":1,"kts":12.5})",
    R"({"event":"summary","verdict":"FAIL","hard":1,"transient":1,"covered_total":16777216,"duration":1.5,"end_reason":"completed","edac_after":{"ce":0,"ue":0},"edac_delta":{"ce":0,"ue":0}})",
};

std::string joined(const std::vector<std::string>& lines, size_t from = 0, size_t to = SIZE_MAX) {
  std::string s;
  for (size_t i = from; i < lines.size() && i < to; ++i) s += lines[i] + "\n";
  return s;
}

RunRecord read_all(const std::string& bytes) {
  StreamReader reader;
  reader.feed(bytes);
  reader.finish();
  return reader.record();
}

TEST(StreamReader, TornCutForeignEmptyAndBinaryStreamsGiveWhatTheyHoldAndSaySo) {
  const std::string whole = joined(kRun);
  std::string torn = whole;  // the newline after the first fault lost: two lines glued into one
  torn.erase(torn.find("\"count\":1}\n") + 10, 1);
  const std::string cut = whole.substr(0, whole.size() - 40);  // stopped inside the summary
  const std::string nested = std::string(100000, '[') + "\n" + joined(kRun, 0, 1);
  std::string binary(3u << 20, 'x');  // one line of 3 MiB, NULs inside
  binary[1000] = '\0';
  binary += "\n" + joined(kRun, 11);

  struct Case {
    const char* name;
    std::string bytes;
    size_t faults;
    bool summary;
    int64_t unreadable, foreign, too_long;
    bool cut_at_end;
    const char* page_says;  // a text the page must hold
  } cases[] = {
      {"whole", whole, 2, true, 0, 0, 0, false, "<strong id=\"verdict\">FAIL</strong>"},
      {"torn", torn, 1, true, 1, 0, 0, false, "lines were not complete JSON"},
      {"cut", cut, 2, false, 1, 0, 0, true, "The stream ends in the middle of a line"},
      {"foreign", "{\"level\":\"info\",\"msg\":\"hello\"}\nplain text\n[1,2]\n{\"event\":\"other\"}\n",
       0, false, 2, 2, 0, false, "NO EVENTS"},
      {"empty", "", 0, false, 0, 0, 0, false, "NO EVENTS"},
      {"nested", nested, 0, false, 1, 0, 0, false, "Missing from the stream"},
      {"binary", binary, 0, true, 0, 0, 1, false, "lines were too long to read"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const RunRecord r = read_all(c.bytes);
    EXPECT_EQ(r.faults.size(), c.faults);
    EXPECT_EQ(r.summary.has_value(), c.summary);
    EXPECT_EQ(r.health.unreadable, c.unreadable);
    EXPECT_EQ(r.health.foreign, c.foreign);
    EXPECT_EQ(r.health.too_long, c.too_long);
    EXPECT_EQ(r.health.cut_at_end, c.cut_at_end);
    const std::string page = render_report(r, nullptr);
    EXPECT_NE(page.find(c.page_says), std::string::npos) << page.substr(0, 4000);
    EXPECT_NE(page.find("</html>"), std::string::npos);
    EXPECT_NE(page.find("not in the stream"), std::string::npos);  // no closing record in any
  }
}

TEST(StreamReader, FaultRecordsMergeTheirSightingsAndTestsGetTheirTimeAndBytes) {
  const RunRecord r = read_all(joined(kRun));
  ASSERT_EQ(r.faults.size(), 2u);
  // The cell seen twice: one row, its latest count and class, the test that saw it first.
  EXPECT_EQ(r.faults[0].address, "0x1000");
  EXPECT_TRUE(r.faults[0].physical);
  EXPECT_EQ(r.faults[0].count, 2);
  EXPECT_EQ(r.faults[0].cls, "hard");
  EXPECT_EQ(r.faults[0].test, "checker");
  // No physical address: keyed and shown by its virtual one.
  EXPECT_EQ(r.faults[1].address, "0x7f0000009000");
  EXPECT_FALSE(r.faults[1].physical);
  // stuck-addr ran from 0.0 to 0.5 s, checker from 0.5 to 1.5 s, both on the 16 MiB region.
  ASSERT_EQ(r.tests.size(), 2u);
  EXPECT_EQ(r.tests[0].name, "stuck-addr");
  EXPECT_DOUBLE_EQ(r.tests[0].seconds, 0.5);
  EXPECT_DOUBLE_EQ(r.tests[1].seconds, 1.0);
  EXPECT_DOUBLE_EQ(r.tests[0].bytes, 16777216.0);
  EXPECT_DOUBLE_EQ(r.tests[1].bytes, 16777216.0);
  ASSERT_TRUE(r.map.has_value());
  EXPECT_EQ(r.map->states, "33781111");
  ASSERT_EQ(r.klog.size(), 1u);
  EXPECT_EQ(r.klog[0].text, "mce: [Hardware Error] <b>");
}

TEST(StreamReader, PiecesOfAnySizeGiveTheRecordOfTheWholeStream) {
  const std::string whole = joined(kRun);
  const RunRecord expected = read_all(whole);
  for (const size_t piece : {1u, 2u, 7u, 64u, 4096u}) {
    SCOPED_TRACE(piece);
    StreamReader reader;
    for (size_t at = 0; at < whole.size(); at += piece) reader.feed(whole.substr(at, piece));
    reader.finish();
    const RunRecord& r = reader.record();
    EXPECT_EQ(r.health.lines, expected.health.lines);
    EXPECT_EQ(r.health.events, expected.health.events);
    ASSERT_EQ(r.faults.size(), expected.faults.size());
    for (size_t i = 0; i < r.faults.size(); ++i) EXPECT_EQ(r.faults[i].count, expected.faults[i].count);
    EXPECT_EQ(render_report(r, nullptr), render_report(expected, nullptr));
  }
}

}  // namespace
}  // namespace dravik::html

// Whole runs with --report: a fault planted through the verify seam gives a
// FAIL page whose verdict, fault addresses and sightings are those of the
// run's own JSON stream, in either output style; the saved stream, whole or
// torn, renders the same faults with --report-from; and a name that is not
// a regular file is never written through.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>

#include "app/app.h"
#include "app/run/run.h"
#include "support/test_support.h"

namespace dravik {
namespace {

const std::string kChecker = std::string(DRAVIK_FIXTURES) + "/../report/html/page_check.py";

std::string read_file(const std::string& path) {
  std::ifstream f(path);
  return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

nlohmann::json checked(const std::string& path) {
  const testing::ProcResult r = testing::run_process({"/usr/bin/python3", kChecker, path});
  return nlohmann::json::parse(r.out);
}

// The program in a child of this process with its standard output in
// out_path; returns its exit code.
int run_in_child(const std::function<void(Run&)>& plant, std::vector<std::string> args,
                 const std::string& out_path) {
  const pid_t pid = fork();
  if (pid == 0) {
    if (freopen(out_path.c_str(), "w", stdout) == nullptr) _exit(127);
    auto run = std::make_unique<Run>();
    plant(*run);
    args.insert(args.begin(), "dravik");
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    _exit(run_program(*run, static_cast<int>(argv.size()), argv.data()));
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// What the JSON stream says: the verdict and each fault record's address
// (physical, else "virt" and the virtual one) with its latest count.
struct StreamFacts {
  std::string verdict;
  std::map<std::string, int64_t> faults;
};

StreamFacts facts_of(const std::string& stream_path) {
  StreamFacts f;
  std::ifstream in(stream_path);
  for (std::string line; std::getline(in, line);) {
    const nlohmann::json e = nlohmann::json::parse(line);
    if (e["event"] == "summary") f.verdict = e["verdict"];
    if (e["event"] != "fault") continue;
    const std::string address =
        e["paddr"] != "0x0" ? e["paddr"].get<std::string>() : "virt " + e["vaddr"].get<std::string>();
    f.faults[address] = std::max<int64_t>(f.faults[address], e["count"].get<int64_t>());
  }
  return f;
}

// The fault table of a checked page as address -> sightings.
std::map<std::string, int64_t> page_faults(const nlohmann::json& page) {
  std::map<std::string, int64_t> rows;
  if (!page["tables"].contains("fault-table")) return rows;
  for (const auto& row : page["tables"]["fault-table"]) {
    if (row[0] == "Physical address") continue;
    rows[row[0].get<std::string>()] = std::stoll(row.back().get<std::string>());
  }
  return rows;
}

// Pages are kept for the browser check when it asks (DRAVIK_REPORT_PAGES).
void keep(const std::string& from, const std::string& name) {
  const char* dir = getenv("DRAVIK_REPORT_PAGES");
  if (dir == nullptr || *dir == '\0') return;
  std::filesystem::copy_file(from, std::string(dir) + "/" + name,
                             std::filesystem::copy_options::overwrite_existing);
}

TEST(ReportRunBinary, APlantedFaultGivesAFailPageWithTheStreamsFaultsInBothOutputStyles) {
  testing::TempDir dir;
  const auto plant = [](dravik::Run& run) {
    run.after_flush = [](const TestBlock& b) { b.base[123] ^= 1ull << 5; };
  };
  // The JSON run's stream is the reference for both pages.
  const std::string stream = dir.sub("fail.jsonl"), json_page = dir.sub("fail.html");
  // Without the kernel log: the box's own messages would crowd the page the
  // README shows.
  ASSERT_EQ(run_in_child(plant, {"--quick", "--mem", "16M", "--no-klog", "--json", "--report", json_page}, stream),
            1);
  const StreamFacts expected = facts_of(stream);
  ASSERT_EQ(expected.verdict, "FAIL");
  ASSERT_FALSE(expected.faults.empty());
  keep(json_page, "fail.html");
  keep(stream, "fail.jsonl");

  const std::string ui_page = dir.sub("fail-ui.html");
  ASSERT_EQ(run_in_child(plant, {"--quick", "--mem", "16M", "--report", ui_page}, dir.sub("console.txt")), 1);
  for (const std::string& page : {json_page, ui_page}) {
    SCOPED_TRACE(page);
    const nlohmann::json c = checked(page);
    EXPECT_TRUE(c["problems"].empty()) << c["problems"];
    EXPECT_EQ(c["text"]["verdict"], "FAIL");
    EXPECT_EQ(c["text"]["exit-status"], "1");
    EXPECT_EQ(c["text"]["end-reason"], "completed");
    // The same cell each time: the same addresses (physical as root) and sightings.
    if (page == json_page) {
      EXPECT_EQ(page_faults(c), expected.faults);
    } else {
      EXPECT_EQ(page_faults(c).size(), expected.faults.size());
    }
  }
}

TEST(ReportRunBinary, AnOrdinaryUsersPageShowsVirtualAddressesAndAFolderItCannotWriteFails) {
  if (!testing::is_root()) GTEST_SKIP() << "changes user";
  testing::TempDir dir;
  ASSERT_EQ(chmod(dir.path().c_str(), 0777), 0);
  const std::string stream = dir.sub("run.jsonl"), page = dir.sub("page.html");
  const std::string closed = dir.sub("closed");
  ASSERT_EQ(mkdir(closed.c_str(), 0700), 0);
  const auto run_as_nobody = [&](const std::string& report, bool plant) {
    return testing::run_as_nobody([&] {
      if (freopen(stream.c_str(), "w", stdout) == nullptr) return 127;
      if (freopen("/dev/null", "w", stderr) == nullptr) return 127;
      auto run = std::make_unique<dravik::Run>();
      if (plant) run->after_flush = [](const TestBlock& b) { b.base[5] ^= 1ull << 1; };
      const char* argv[] = {"dravik", "--quick", "--mem", "16M", "--json", "--report", report.c_str()};
      return run_program(*run, 7, argv);
    });
  };
  ASSERT_EQ(run_as_nobody(page, true), 1);
  const StreamFacts expected = facts_of(stream);
  ASSERT_FALSE(expected.faults.empty());
  for (const auto& [address, count] : expected.faults) EXPECT_EQ(address.rfind("virt 0x", 0), 0u) << address;
  const nlohmann::json c = checked(page);
  EXPECT_EQ(c["text"]["verdict"], "FAIL");
  EXPECT_EQ(page_faults(c), expected.faults);
  // A folder it may not write: a run that found a fault keeps its status, a
  // clean one ends with 4.
  EXPECT_EQ(run_as_nobody(closed + "/page.html", true), 1);
  EXPECT_EQ(run_as_nobody(closed + "/page.html", false), 4);
  EXPECT_FALSE(std::filesystem::exists(closed + "/page.html"));
}

TEST(ReportRunBinary, ASavedStreamWholeOrTornRendersWithoutTestingAnything) {
  testing::TempDir dir;
  const auto plant = [](dravik::Run& run) {
    run.after_flush = [](const TestBlock& b) { b.base[77] ^= 1ull << 9; };
  };
  const std::string stream = dir.sub("run.jsonl");
  ASSERT_EQ(run_in_child(plant, {"--quick", "--mem", "16M", "--json"}, stream), 1);
  const StreamFacts expected = facts_of(stream);
  // Torn: the newline after the start line lost, and the last line (the summary) cut in half.
  std::string text = read_file(stream);
  text.erase(text.find('\n'), 1);
  const size_t last_line = text.rfind('\n', text.size() - 2) + 1;
  text.resize(last_line + (text.size() - last_line) / 2);
  const std::string torn = dir.sub("torn.jsonl");
  std::ofstream(torn) << text;

  struct Case {
    std::string input;
    std::string verdict;
    bool incomplete;
  } cases[] = {{stream, expected.verdict, false}, {torn, "not in the stream", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input);
    const std::string page = dir.sub("from.html");
    const testing::ProcResult r = testing::run_dravik({"--report-from", c.input, "--report", page});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, "");
    const nlohmann::json p = checked(page);
    EXPECT_TRUE(p["problems"].empty()) << p["problems"];
    EXPECT_EQ(p["text"]["verdict"], c.verdict);
    EXPECT_EQ(page_faults(p), expected.faults);
    EXPECT_EQ(read_file(page).find("INCOMPLETE") != std::string::npos, c.incomplete);
    // No closing record in a saved stream: the host is not in it, and the page says so.
    EXPECT_EQ(p["text"]["exit-status"], "not in the stream");
    if (c.input == torn) {
      keep(page, "torn.html");
      keep(torn, "torn.jsonl");
    }
  }
  const testing::ProcResult no_page = testing::run_dravik({"--report-from", stream});
  EXPECT_EQ(no_page.exit_code, 2);
  EXPECT_EQ(no_page.err, "dravik: --report-from needs --report FILE\n");
  const testing::ProcResult no_input =
      testing::run_dravik({"--report-from", dir.sub("none.jsonl"), "--report", dir.sub("x.html")});
  EXPECT_EQ(no_input.exit_code, 2);
  EXPECT_EQ(no_input.err.rfind("dravik: report not written: cannot open ", 0), 0u) << no_input.err;
}

TEST(ReportRunBinary, ANameThatIsNotARegularFileIsRefusedAndLeftAlone) {
  testing::TempDir dir;
  const std::string target = dir.write("secret", "keep me\n");
  ASSERT_EQ(symlink(target.c_str(), dir.sub("link.html").c_str()), 0);
  ASSERT_EQ(symlink(dir.sub("nowhere").c_str(), dir.sub("dangling.html").c_str()), 0);
  ASSERT_EQ(mkfifo(dir.sub("fifo.html").c_str(), 0600), 0);
  ASSERT_EQ(mkdir(dir.sub("dir.html").c_str(), 0700), 0);
  const bool root = testing::is_root();
  if (root) {
    ASSERT_EQ(mknod(dir.sub("null.html").c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
  }
  for (const char* name : {"link.html", "dangling.html", "fifo.html", "dir.html", "null.html"}) {
    if (!root && std::string(name) == "null.html") continue;
    SCOPED_TRACE(name);
    const std::string path = dir.sub(name);
    const testing::ProcResult r = testing::run_dravik({"--selftest", "--report", path});
    EXPECT_EQ(r.exit_code, 4);
    EXPECT_EQ(r.err, "dravik: report not written: " + path + " is not a regular file\n");
  }
  EXPECT_EQ(read_file(target), "keep me\n");
  EXPECT_FALSE(std::filesystem::exists(dir.sub("nowhere")));
  // A regular file there is replaced, readable by all.
  const std::string page = dir.write("page.html", "old");
  const testing::ProcResult ok = testing::run_dravik({"--selftest", "--report", page});
  EXPECT_EQ(ok.exit_code, 0) << ok.err;
  struct stat st {};
  ASSERT_EQ(stat(page.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
  EXPECT_EQ(checked(page)["text"]["verdict"], "PASS");
}

}  // namespace
}  // namespace dravik

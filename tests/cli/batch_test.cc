// ptmatch batch against ptmatch run: the same scenes give the same entries, a failing scene gives its error
// line and no other, and a batch cut short and resumed holds every scene exactly once.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace {

using nlohmann::json;

struct Outcome {
  int status = -1;
  std::string out;
};

// A file of the running test's own in the build tree.
std::string outPath(const std::string& name) {
  return std::string(CLI_OUT_DIR) + "/batch_" +
         ::testing::UnitTest::GetInstance()->current_test_info()->name() + "_" + name;
}

// Runs `command` (ptmatch's arguments, or any shell text when `tool` is false) in the data directory.
Outcome shell(const std::string& args, bool tool = true) {
  const std::string cmd = std::string("cd '") + CLI_DATA_DIR + "' && " +
                          (tool ? "'" + std::string(PTMATCH_EXE) + "' " : "") + args + " 2>/dev/null";
  Outcome o;
  FILE* pipe = popen(cmd.c_str(), "r");
  if (!pipe) return o;
  char buf[4096];
  std::size_t n;
  while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) o.out.append(buf, n);
  const int raw = pclose(pipe);
  o.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return o;
}

std::vector<json> jsonLines(const std::string& text) {
  std::vector<json> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(json::parse(line));
  return lines;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void writeFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// A batch line without what only a batch has (its id and wall time), without the search's times, which
// differ between any two runs, and without its thread count (a batch searches each scene on one thread;
// the results do not depend on it).
json comparable(json entry) {
  entry.erase("id");
  entry.erase("wall_s");
  entry.erase("time_s");
  if (entry.contains("search")) {
    for (const char* key : {"coarse_time_s", "fine_time_s", "threads"}) entry["search"].erase(key);
  }
  return entry;
}

// run --json's entry for one file and options.
json singleRun(const std::string& tool, const std::string& file, const std::string& options) {
  const Outcome o = shell("run '" + tool + "' " + file + " --json " + options);
  return comparable(json::parse(o.out)["runs"][0]);
}

std::string trainedTool() {
  const std::string tool = outPath("tool.ptm");
  shell("train -m model.csv -o '" + tool + "'");
  return tool;
}

TEST(PtmatchBatch, LinesEqualSingleRunsInInputOrderWithFailedScenesInPlace) {
  const std::string tool = trainedTool();
  // Found, not found (too few points for the coverage), unreadable, missing, and found again.
  const std::vector<std::string> files = {"scene.csv",        "sparse.csv",     "bad.json",
                                          "no_such_file.csv", "bad_number.csv", "scene.json"};
  std::string args;
  for (const std::string& f : files) args += " " + f;
  for (const char* threads : {"1", "3"}) {
    const Outcome o = shell("batch --tool '" + tool + "' --rotation 20,40 --threads " + threads + args);
    EXPECT_EQ(o.status, 2) << "a scene failed";
    const std::vector<json> lines = jsonLines(o.out);
    ASSERT_EQ(lines.size(), files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
      SCOPED_TRACE(files[i]);
      EXPECT_EQ(lines[i]["id"], files[i]);
      EXPECT_GE(lines[i]["wall_s"].get<double>(), 0.0);
      EXPECT_EQ(comparable(lines[i]), singleRun(tool, files[i], "--rotation 20,40"));
    }
    EXPECT_EQ(lines[0]["found"], true);
    EXPECT_EQ(lines[1]["found"], false);
    EXPECT_EQ(lines[2]["ok"], false);
  }
}

TEST(PtmatchBatch, ManifestSettingsActAsTheSameRunOptionsWould) {
  const std::string tool = trainedTool();
  const std::string csv = outPath("manifest.csv"), jsonl = outPath("manifest.jsonl");
  // Paths are taken from the manifest's folder, so the manifests name the data directory.
  const std::string data = CLI_DATA_DIR;
  writeFile(csv,
            "id,file,start_pose,rotation,max_results\n"
            "near,\"" +
                data +
                "/scene.csv\",\"30,1,100,50\",2,\n"
                "wide,\"" +
                data +
                "/scene.csv\",,20:40,3\n"
                "default," +
                data + "/scene.json,,,\n");
  writeFile(jsonl, "{\"id\": \"near\", \"file\": \"" + data +
                       "/scene.csv\", \"start_pose\": [30, 1, 100, 50], "
                       "\"rotation\": 2}\n"
                       "{\"id\": \"wide\", \"file\": \"" +
                       data +
                       "/scene.csv\", \"rotation\": \"20,40\", "
                       "\"max_results\": 3}\n\n"
                       "{\"file\": \"" +
                       data + "/scene.json\", \"id\": \"default\"}\n");
  const std::vector<std::string> options = {"--start-pose 30,1,100,50 --rotation 2",
                                            "--rotation 20,40 --max-results 3", ""};
  for (const std::string& manifest : {csv, jsonl}) {
    SCOPED_TRACE(manifest);
    const Outcome o = shell("batch --tool '" + tool + "' --manifest '" + manifest + "'");
    EXPECT_EQ(o.status, 1) << "the default rotation range misses the scene's 30 degrees";
    const std::vector<json> lines = jsonLines(o.out);
    ASSERT_EQ(lines.size(), 3u);
    const std::vector<std::string> files = {"scene.csv", "scene.csv", "scene.json"};
    for (std::size_t i = 0; i < lines.size(); ++i) {
      json expected = singleRun(tool, files[i], options[i]);
      expected["file"] = data + "/" + files[i];
      EXPECT_EQ(comparable(lines[i]), expected) << lines[i]["id"];
    }
  }
}

// Every line of a batch's output file by id; fails the test when an id comes twice or a line is torn.
std::map<std::string, json> linesById(const std::string& path) {
  const std::string text = readFile(path);
  EXPECT_TRUE(text.empty() || text.back() == '\n');
  std::map<std::string, json> byId;
  for (const json& line : jsonLines(text)) {
    EXPECT_TRUE(byId.emplace(line["id"].get<std::string>(), comparable(line)).second) << line["id"];
  }
  return byId;
}

TEST(PtmatchBatch, AnInterruptedBatchResumedHoldsEveryScenePreciselyOnce) {
  const std::string tool = trainedTool();
  const std::string listed = outPath("list.csv");
  // Two in three scenes found, every third one unreadable; scene kStuck reads a file of its own, which the
  // real kill below makes a pipe that nobody writes. The manifest's folder is the build tree, so its data
  // paths are absolute.
  constexpr int kScenes = 60, kStuck = 31;
  const std::string stuck = outPath("stuck.csv");
  shell("cp scene.csv '" + stuck + "'", false);
  std::string text = "id,file\n";
  for (int i = 0; i < kScenes; ++i) {
    const std::string file =
        i == kStuck ? stuck : std::string(CLI_DATA_DIR) + (i % 3 ? "/scene.csv" : "/bad.json");
    text += "s" + std::to_string(i) + "," + file + "\n";
  }
  writeFile(listed, text);
  const std::string batch = "batch --tool '" + tool + "' --rotation 20,40 --manifest '" + listed + "' -o ";
  const std::string whole = outPath("whole.jsonl");
  std::remove(whole.c_str());
  ASSERT_EQ(shell(batch + "'" + whole + "'").status, 2);
  const std::map<std::string, json> reference = linesById(whole);
  ASSERT_EQ(reference.size(), static_cast<std::size_t>(kScenes));

  // A kill between two writes, and one in the middle of a line's write (a torn last line).
  const std::vector<std::string> refLines = [&] {
    std::vector<std::string> v;
    std::istringstream in(readFile(whole));
    for (std::string line; std::getline(in, line);) v.push_back(line + "\n");
    return v;
  }();
  for (const std::size_t torn : {std::size_t{0}, std::size_t{25}}) {
    SCOPED_TRACE(torn);
    const std::string cut = outPath("cut.jsonl");
    std::string partial;
    for (int i = 0; i < 20; ++i) partial += refLines[static_cast<std::size_t>(i)];
    partial += refLines[20].substr(0, torn);
    writeFile(cut, partial);
    EXPECT_EQ(shell(batch + "'" + cut + "'").status, 2) << "the file exists, and --resume was not given";
    EXPECT_EQ(readFile(cut), partial);
    EXPECT_EQ(shell(batch + "'" + cut + "' --resume --threads 2").status, 2);
    EXPECT_EQ(linesById(cut), reference);
  }

  // A real kill: one thread writes the lines before the stuck scene, then waits on its pipe until killed.
  const std::string killed = outPath("killed.jsonl");
  std::remove(killed.c_str());
  shell("rm '" + stuck + "' && mkfifo '" + stuck + "'", false);
  shell("timeout -s KILL 1 '" + std::string(PTMATCH_EXE) + "' " + batch + "'" + killed + "' --threads 1",
        false);
  EXPECT_EQ(linesById(killed).size(), static_cast<std::size_t>(kStuck));
  shell("rm '" + stuck + "' && cp scene.csv '" + stuck + "'", false);
  EXPECT_EQ(shell(batch + "'" + killed + "' --resume").status, 2);
  EXPECT_EQ(linesById(killed), reference);
  // A finished batch resumed runs nothing and says what its lines say.
  EXPECT_EQ(shell(batch + "'" + killed + "' --resume").status, 2);
  EXPECT_EQ(linesById(killed), reference);
}

TEST(PtmatchBatch, RefusesWhatWouldMixOrLoseScenes) {
  const std::string tool = trainedTool();
  const std::string foreign = outPath("foreign.jsonl");
  writeFile(foreign, "{\"schema\": 1}\n");
  const std::string unknown = outPath("unknown.csv");
  writeFile(unknown, "id,file,rotaton\na,scene.csv,5\n");
  const struct {
    std::string args, message;
  } cases[] = {
      {"scene.csv scene.csv", "scene id \"scene.csv\" is given twice (argument 1 and argument 2)"},
      {"'nothing*.csv'", "nothing*.csv: no file matches"},
      {"", "give data files, glob patterns or --manifest FILE"},
      {"--manifest '" + unknown + "'", ":1: unknown column \"rotaton\""},
      {"scene.csv -o '" + foreign + "' --resume", ":1: not a line of a batch's output"},
      {"scene.csv --resume", "--resume: give the output file"},
      {"scene.csv --threads -1",
       "--threads must be a whole number from 1 to 256, or 0 for one per core, not -1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const std::string err = outPath("err.txt");
    const Outcome o = shell("'" + std::string(PTMATCH_EXE) + "' batch --tool '" + tool + "' " + c.args +
                                " 2>'" + err + "'; echo $?",
                            false);
    EXPECT_EQ(o.out, "2\n");
    EXPECT_NE(readFile(err).find(c.message), std::string::npos) << readFile(err);
  }
  EXPECT_EQ(readFile(foreign), "{\"schema\": 1}\n");
}

}  // namespace

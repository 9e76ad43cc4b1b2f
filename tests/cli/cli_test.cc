// Runs the ptmatch executable on the fixture files in data/ and checks its output, its exit status and the
// files it writes. scene.csv holds model.csv rotated by 30 degrees and shifted by (100, 50), without model
// point 8 (weight 1 of 11) and with 5 clutter points; grid.csv a 5 x 4 grid of step 12 with one gap and one
// stray point; board.csv a 9 x 6 board in perspective with lens distortion, 20 clutter points and dense lines
// of points along two edges (from the synthetic boards of tests/synthetic_boards.h, seed 17). pattern.pgm and
// the pattern*.png files (from make_png_fixtures.py) hold one 6 x 5 pattern.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace {

// The fixtures are exact, so the pose comes back to rounding of the printed 6-digit coordinates.
constexpr double kPoseTol = 1e-4;
constexpr double kSceneCoverage = 10.0 / 11.0;

struct Outcome {
  int status = -1;
  std::string out, err;
};

std::string readFile(const std::string& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// A file of the running test's own, so that tests run in parallel never share one.
std::string outPath(const std::string& name) {
  std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
  std::replace(test.begin(), test.end(), '/', '_');
  return std::string(CLI_OUT_DIR) + "/" + test + "_" + name;
}

// Runs ptmatch with `args` in the data directory, capturing stdout and stderr; `setup` is shell text that
// runs first in the same shell (a ulimit).
Outcome ptmatch(const std::string& args, const std::string& setup = "") {
  const std::string errFile = outPath("stderr.txt");
  const std::string cmd = std::string("cd '") + CLI_DATA_DIR + "' && " + setup + "'" + PTMATCH_EXE + "' " +
                          args + " 2>'" + errFile + "'";
  Outcome o;
  FILE* pipe = popen(cmd.c_str(), "r");
  if (!pipe) return o;
  char buf[4096];
  std::size_t n;
  while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) o.out.append(buf, n);
  const int raw = pclose(pipe);
  o.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  o.err = readFile(errFile);
  return o;
}

void expectScenePose(const nlohmann::json& result) {
  EXPECT_NEAR(result["pose"]["rotation_deg"].get<double>(), 30.0, kPoseTol);
  EXPECT_NEAR(result["pose"]["scale"].get<double>(), 1.0, kPoseTol);
  EXPECT_NEAR(result["pose"]["translation"][0].get<double>(), 100.0, kPoseTol);
  EXPECT_NEAR(result["pose"]["translation"][1].get<double>(), 50.0, kPoseTol);
  EXPECT_NEAR(result["pose"]["matrix"][1][0].get<double>(), 0.5, kPoseTol);
  EXPECT_NEAR(result["coverage"].get<double>(), kSceneCoverage, 1e-9);
  EXPECT_NEAR(result["fit_error"].get<double>(), 0.0, kPoseTol);
  // Every model point but the missing one (index 8) is paired, each with a different data point.
  std::vector<int> models, datas;
  for (const auto& pair : result["correspondences"]) {
    models.push_back(pair[0].get<int>());
    datas.push_back(pair[1].get<int>());
  }
  EXPECT_EQ(models, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 9}));
  std::sort(datas.begin(), datas.end());
  EXPECT_EQ(std::unique(datas.begin(), datas.end()), datas.end());
}

TEST(PtmatchCli, StoredToolRunsOnCsvAndJsonDataAlike) {
  const std::string tool = outPath("tool.ptm");
  const Outcome trained = ptmatch("train -m model.csv -o '" + tool + "'");
  ASSERT_EQ(trained.status, 0) << trained.err;
  const Outcome o = ptmatch("run '" + tool + "' scene.csv scene.json --rotation 20,40 --json");
  ASSERT_EQ(o.status, 0) << o.err;
  const nlohmann::json doc = nlohmann::json::parse(o.out);
  ASSERT_EQ(doc["runs"].size(), 2u);
  for (const auto& run : doc["runs"]) {
    EXPECT_EQ(run["data_points"].get<int>(), 14);
    ASSERT_EQ(run["results"].size(), 1u);
    expectScenePose(run["results"][0]);
  }
}

TEST(PtmatchCli, EveryRunParameterIsAcceptedAndHonoured) {
  const Outcome o = ptmatch(
      "match -m model.csv scene.csv --json --min-coverage 0.8 --start-pose 0.866025,-0.5,0.5,0.866025,100,50 "
      "--rotation 2 --scale 0.95,1.05 --x-range -1,1 --y-range -1,1 --grid-size 3 --capture-range 2 "
      "--max-results 2 --time-limit 10");
  ASSERT_EQ(o.status, 0) << o.err;
  const nlohmann::json doc = nlohmann::json::parse(o.out);
  ASSERT_GE(doc["runs"][0]["results"].size(), 1u);
  expectScenePose(doc["runs"][0]["results"][0]);
}

TEST(PtmatchCli, ExhaustiveModeFindsASmallModel) {
  const Outcome o = ptmatch("match -m model4.csv scene.csv --mode exhaustive --rotation 40 --json");
  ASSERT_EQ(o.status, 0) << o.err;
  const nlohmann::json result = nlohmann::json::parse(o.out)["runs"][0]["results"][0];
  EXPECT_EQ(result["mode"], "exhaustive");
  EXPECT_NEAR(result["coverage"].get<double>(), 1.0, 1e-9);
  EXPECT_NEAR(result["pose"]["rotation_deg"].get<double>(), 30.0, kPoseTol);
}

TEST(PtmatchCli, TimeLimitStopsALongSearchWithAnError) {
  // The exhaustive search over all pairings of ten model points takes seconds on this scene.
  const Outcome o = ptmatch("match -m model.csv scene.csv --mode exhaustive --rotation 40 --time-limit 0.2");
  EXPECT_EQ(o.status, 2);
  EXPECT_EQ(o.err, "ptmatch: error: scene.csv: stopped by the time limit of 0.2 s\n");
}

TEST(PtmatchCli, APoseOutsideTheAllowedRangeMeansNothingFound) {
  // The true rotation is 30 degrees, well outside +-5.
  const Outcome o = ptmatch("match -m model.csv scene.csv --rotation 5");
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.out.find("no pose found"), std::string::npos);
}

// A tool trained from the pattern finds the grid, whichever image kind holds the pattern.
// Every PNG kind the tool reads must give the same nodes as the PGM: the palette and RGB files draw nodes in
// colours so dark that a luminance rule would lose some, and the 1-bit file and one RGB file are interlaced.
class PtmatchCliPatternFiles : public ::testing::TestWithParam<const char*> {};

TEST_P(PtmatchCliPatternFiles, TrainAStoredToolThatFindsTheGrid) {
  const std::string tool = outPath("grid.ptm");
  const Outcome trained = ptmatch(std::string("train -p ") + GetParam() + " --pel-size 12 -o '" + tool + "'");
  ASSERT_EQ(trained.status, 0) << trained.err;
  const Outcome o = ptmatch("run '" + tool + "' grid.csv --scale 0.9,1.1 --json");
  ASSERT_EQ(o.status, 0) << o.err;
  const nlohmann::json run = nlohmann::json::parse(o.out)["runs"][0];
  EXPECT_EQ(run["model_points"].get<int>(), 28);
  const nlohmann::json& result = run["results"][0];
  EXPECT_EQ(result["mode"], "point-to-grid");
  EXPECT_NEAR(result["coverage"].get<double>(), 19.0 / 28.0, 1e-9);
  EXPECT_NEAR(result["pose"]["scale"].get<double>(), 1.0, 1e-3);
  EXPECT_NEAR(result["pose"]["rotation_deg"].get<double>(), 0.05 * 180 / 3.14159265358979, 1e-3);
  EXPECT_EQ(result["correspondences"].size(), 19u);
}

INSTANTIATE_TEST_SUITE_P(PgmAndPng, PtmatchCliPatternFiles,
                         ::testing::Values("pattern.pgm", "pattern.png", "pattern_1bit_interlaced.png",
                                           "pattern_palette.png", "pattern_rgb.png",
                                           "pattern_rgb_interlaced.png"));

TEST(PtmatchCli, GridIndexesNeighboursOneStepApartAndLeavesTheStrayPoint) {
  const Outcome o = ptmatch("grid grid.csv --xv 12,0 --yv 0,12 --json");
  ASSERT_EQ(o.status, 0) << o.err;
  const nlohmann::json doc = nlohmann::json::parse(o.out)["runs"][0];
  EXPECT_EQ(doc["mapped"].get<int>(), 19);
  const auto& idx = doc["indices"];
  ASSERT_EQ(idx.size(), 20u);
  EXPECT_TRUE(idx[19].is_null());
  EXPECT_EQ(idx[1][0].get<int>() - idx[0][0].get<int>(), 1);  // next in the row
  EXPECT_EQ(idx[5][1].get<int>() - idx[0][1].get<int>(), 1);  // next row
  EXPECT_NEAR(doc["grid_to_point"]["scale"].get<double>(), 12.0, 1e-3);
}

TEST(PtmatchCli, DemoRecoversItsOwnPose) {
  const Outcome o = ptmatch("demo --json");
  ASSERT_EQ(o.status, 0) << o.err;
  const nlohmann::json doc = nlohmann::json::parse(o.out)["runs"][0];
  const auto& pose = doc["results"][0]["pose"];
  // The demo's jitter is 0.25 units on a model about 90 pels across.
  EXPECT_NEAR(pose["rotation_deg"].get<double>(), doc["truth"]["rotation_deg"].get<double>(), 0.5);
  EXPECT_NEAR(pose["scale"].get<double>(), doc["truth"]["scale"].get<double>(), 0.01);
  EXPECT_NEAR(pose["translation"][0].get<double>(), doc["truth"]["translation"][0].get<double>(), 1.0);
}

// A minimal well-formedness check: every tag is closed in order and nothing is left open.
bool tagsBalance(const std::string& xml) {
  std::vector<std::string> open;
  for (std::size_t at = xml.find('<'); at != std::string::npos; at = xml.find('<', at + 1)) {
    const std::size_t end = xml.find('>', at);
    if (end == std::string::npos) return false;
    const std::string tag = xml.substr(at + 1, end - at - 1);
    if (tag.empty() || tag[0] == '?' || tag.back() == '/') continue;
    const std::string name = tag.substr(tag[0] == '/' ? 1 : 0, tag.find_first_of(" />", 1) - (tag[0] == '/'));
    if (tag[0] != '/') {
      open.push_back(name);
    } else if (open.empty() || open.back() != name) {
      return false;
    } else {
      open.pop_back();
    }
  }
  return open.empty();
}

std::size_t countOf(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(PtmatchCli, MatchPrintsATableAndDrawsAWellFormedSvgWithOneMarkerPerPoint) {
  const std::string svg = outPath("match.svg");
  const Outcome o = ptmatch("match -m model.csv scene.csv --rotation 40 --svg '" + svg + "'");
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.err, "");
  EXPECT_NE(o.out.find("0.9091     0.0000       30.0000   1.00000    100.0000     50.0000        9"),
            std::string::npos)
      << o.out;
  const std::string text = readFile(svg);
  EXPECT_EQ(text.rfind("<?xml", 0), 0u);
  EXPECT_TRUE(tagsBalance(text));
  EXPECT_EQ(countOf(text, "class=\"data\""), 14u);
  EXPECT_EQ(countOf(text, "class=\"model\""), 10u);
  EXPECT_EQ(countOf(text, "class=\"pair\""), 9u);
}

struct Marker {
  double x, y;
  std::string element;
};

// The centres of the SVG elements of one class: (cx, cy) of circles, the middle of rects.
std::vector<Marker> markers(const std::string& svg, const std::string& cls) {
  std::vector<Marker> found;
  const std::string key = "class=\"" + cls + "\"";
  for (std::size_t at = svg.find(key); at != std::string::npos; at = svg.find(key, at + 1)) {
    const std::size_t start = svg.rfind('<', at);
    const std::string element = svg.substr(start, svg.find('>', at) - start);
    auto number = [&](const std::string& name) {
      const std::size_t value = element.find(" " + name + "=\"") + name.size() + 3;
      return std::stod(element.substr(value));
    };
    if (element.rfind("<circle", 0) == 0) {
      found.push_back({number("cx"), number("cy"), element});
    } else {
      found.push_back({number("x") + number("width") / 2, number("y") + number("height") / 2, element});
    }
  }
  return found;
}

// A sparse pattern's pose maps pattern pels, a dense one's client units; either way every matched node
// must be drawn on a data point.
TEST(PtmatchCli, SvgOfAPatternMatchDrawsEveryMatchedNodeOnADataPoint) {
  for (const char* args :
       {"-p sparse.pgm --pel-size 12 sparse.csv", "-p pattern.png --pel-size 12 grid.csv"}) {
    const std::string svg = outPath("pattern.svg");
    const Outcome o = ptmatch(std::string("match --scale 0.9,1.1 ") + args + " --svg '" + svg + "'");
    ASSERT_EQ(o.status, 0) << o.err;
    const std::string text = readFile(svg);
    const std::vector<Marker> data = markers(text, "data");
    int matched = 0;
    for (const Marker& m : markers(text, "model")) {
      if (m.element.find("#2ca02c") == std::string::npos) continue;
      ++matched;
      EXPECT_TRUE(std::any_of(data.begin(), data.end(),
                              [&](const Marker& d) { return std::hypot(d.x - m.x, d.y - m.y) < 1.0; }))
          << args << ": matched node drawn at " << m.x << "," << m.y;
    }
    EXPECT_GE(matched, 5) << args;
  }
}

// board.csv: node (0, 0) is line 88 and node (8, 5) line 30; the other 56 points are clutter.
constexpr const char* kBoardArgs = "grid board.csv --xv 29.708,4.1752 --yv -4.1752,29.708";

TEST(PtmatchCli, GridIndexerListsAPerspectiveBoardAndDrawsIt) {
  const std::string svgPath = outPath("board.svg");
  const Outcome o = ptmatch(std::string(kBoardArgs) + " --board 9x6 --json --svg '" + svgPath + "'");
  ASSERT_EQ(o.status, 0) << o.err;
  const nlohmann::json doc = nlohmann::json::parse(o.out)["runs"][0];
  EXPECT_EQ(doc["method"], "indexer");
  EXPECT_EQ(doc["mapped"].get<int>(), 54);
  ASSERT_TRUE(doc["board"]["found"].get<bool>());
  const auto& nodes = doc["board"]["points"];
  ASSERT_EQ(nodes.size(), 54u);
  EXPECT_EQ(nodes[0].get<int>(), 88);
  EXPECT_EQ(nodes[53].get<int>(), 30);
  EXPECT_EQ(doc["indices"][30][0].get<int>(), 8);
  EXPECT_EQ(doc["indices"][30][1].get<int>(), 5);

  const std::string svg = readFile(svgPath);
  EXPECT_TRUE(tagsBalance(svg));
  auto count = [&](const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = svg.find(what); at != std::string::npos; at = svg.find(what, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count("class=\"node\""), 54u);
  EXPECT_EQ(count("class=\"unindexed\""), 56u);
  EXPECT_EQ(count(">8,5</text>"), 1u);

  // A board of another size is reported as not found, with the reason; the exit status says nothing found.
  const Outcome other = ptmatch(std::string(kBoardArgs) + " --board 10x6 --json");
  EXPECT_EQ(other.status, 1);
  const nlohmann::json otherDoc = nlohmann::json::parse(other.out)["runs"][0];
  EXPECT_FALSE(otherDoc["board"]["found"].get<bool>());
  EXPECT_NE(otherDoc["board"]["message"].get<std::string>().find("in 2 places"), std::string::npos);

  // The point-to-grid map stays selectable; its single affine model cannot follow the far side.
  const Outcome map = ptmatch(std::string(kBoardArgs) + " --method map --json");
  ASSERT_EQ(map.status, 0) << map.err;
  EXPECT_LT(nlohmann::json::parse(map.out)["runs"][0]["mapped"].get<int>(), 54);
}

struct BadCase {
  const char* args;
  const char* message;  // part of the one error line
};

class PtmatchCliErrors : public ::testing::TestWithParam<BadCase> {};

INSTANTIATE_TEST_SUITE_P(
    GridBadInput, PtmatchCliErrors,
    ::testing::Values(BadCase{"grid board.csv --xv 30,0 --yv 0,30 --board 9by6",
                              "--board: expected COLSxROWS with at least 3 nodes a side"},
                      BadCase{"grid board.csv --xv 30,0 --yv 0,30 --method map --board 9x6",
                              "--board and --svg need --method indexer"},
                      BadCase{"grid board.csv --xv 30,0 --yv 0,30 --snap 3",
                              "the indexer's is --snap-fraction"},
                      BadCase{"grid board.csv --xv 30,0 --yv 0,30 --snap-fraction 0.6",
                              "snapFraction is 0.6, outside 0.05 to 0.45"},
                      BadCase{"grid board.csv --xv 30,0 --yv 0,30 --method affine", "--method"}));

TEST_P(PtmatchCliErrors, FailWithOneLineNamingTheProblem) {
  const Outcome o = ptmatch(GetParam().args);
  EXPECT_EQ(o.status, 2);
  EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 1) << o.err;
  EXPECT_EQ(o.err.rfind("ptmatch: error: ", 0), 0u) << o.err;
  EXPECT_NE(o.err.find(GetParam().message), std::string::npos) << o.err;
}

INSTANTIATE_TEST_SUITE_P(
    BadInput, PtmatchCliErrors,
    ::testing::Values(
        BadCase{"match -m bad_number.csv scene.csv", "bad_number.csv:3:"},
        BadCase{"match -m bad_fields.csv scene.csv", "bad_fields.csv:2: expected 2 fields (x,y), got 4"},
        BadCase{"match -m bad.json scene.csv", "bad.json: bad JSON"},
        BadCase{"match -m too_few.csv scene.csv", "too_few.csv: training needs at least 3"},
        BadCase{"match -m model.csv missing.csv", "missing.csv: cannot open"},
        BadCase{"run bad_tool.ptm scene.csv", "bad_tool.ptm: not a stored tool"},
        BadCase{"run model.csv scene.csv", "model.csv: not a stored tool"},
        BadCase{"match -p bad_number.csv scene.csv", "bad_number.csv: not a PNG or PGM"},
        BadCase{"train -p pattern_16bit.png -o /dev/null", "pattern_16bit.png: PNG with 16-bit"},
        BadCase{"train -p pattern_alpha.png -o /dev/null", "pattern_alpha.png: PNG with transp"},
        BadCase{"train -p pattern_trns.png -o /dev/null", "pattern_trns.png: PNG with transp"},
        BadCase{"train -p pattern_truncated.png -o /dev/null", "pattern_truncated.png: bad PNG: the"},
        BadCase{"train -p pattern_huge.png -o /dev/null", "pattern_huge.png: bad PNG: Invalid IHDR"},
        BadCase{"train -p missing.png -o /dev/null", "missing.png: cannot open"},
        BadCase{"match -m model.csv scene.csv --bogus", "--bogus"},
        BadCase{"match -m model.csv scene.csv --min-coverage 2", "--min-coverage"},
        BadCase{"match -m model.csv scene.csv --x-range 5", "--x-range"},
        BadCase{"match -m model.csv scene.csv --scale 0.05,1", "--scale"},
        BadCase{"match -m model.csv scene.csv --start-pose 1,2,3", "--start-pose"},
        BadCase{"match -m model.csv scene.csv --grid-size -1", "--grid-size"},
        BadCase{"match -m model.csv scene.csv --max-results 0", "--max-results"},
        BadCase{"match -m model.csv scene.csv --time-limit -1", "--time-limit"},
        BadCase{"match -m model.csv scene.csv --mode fast", "--mode"},
        BadCase{"match -m model.csv -p pattern.pgm scene.csv", "excludes"},
        BadCase{"grid grid.csv --xv 12 --yv 0,12", "--xv"}));

// Files and settings the readers used to take silently or wrongly, and files that declare more than they
// hold: each is refused before anything of the declared size is allocated.
INSTANTIATE_TEST_SUITE_P(
    SilentOrCostlyInput, PtmatchCliErrors,
    ::testing::Values(
        BadCase{"match -m out_of_range.csv scene.csv",
                "out_of_range.csv:1: number 1e400 is out of the range"},
        BadCase{"match -m fractional_weight.csv scene.csv",
                "fractional_weight.csv:3: weight 1.9 is not a 32-bit"},
        BadCase{"match -m model.csv scene.csv --grid-size 0", "--grid-size: must be a finite number > 0"},
        BadCase{"match -m model.csv scene.csv --grid-size nan", "--grid-size: must be a finite number > 0"},
        BadCase{"match -m model.csv scene.csv --capture-range 0",
                "--capture-range: must be a finite number > 0"},
        BadCase{"match -m model.csv scene.csv --capture-range inf",
                "--capture-range: must be a finite number > 0"},
        BadCase{
            "train -p pattern_over_budget.png -o /dev/null",
            "pattern_over_budget.png: declares 16384 x 16384 = 268435456 pels, more than the image budget of "
            "67108864 pels (raise it with --max-image-pels)"},
        BadCase{"train -p pattern_over_budget.pgm -o /dev/null",
                "pattern_over_budget.pgm: declares 16384 x 16384"},
        BadCase{"train -p pattern_over_budget.png --max-image-pels 268435456 -o /dev/null",
                "pattern_over_budget.png: bad PNG"},
        BadCase{
            "train -p pattern_over_budget.pgm --max-image-pels 268435456 -o /dev/null",
            "pattern_over_budget.pgm: the PGM header declares 268435456 pels, which need 268435456 bytes, "
            "but the file holds 0"},
        BadCase{"train -p pattern_short_plain.pgm -o /dev/null",
                "need at least 19999 bytes, but the file holds 8"},
        BadCase{"train -p pattern_two_pels.pgm -o /dev/null",
                "pattern_two_pels.pgm: the pattern has 2 set (nonzero) pels; training needs at least 3"},
        BadCase{"train -p pattern.png --max-image-pels 29 -o /dev/null", "6 x 5 = 30 pels, more than"},
        BadCase{"train -p pattern.png --max-image-pels 0 -o /dev/null", "--max-image-pels"}));

// Point files whose columns are not what they seem, settings that are almost certainly a mistake, and the
// library's refusals: each message names the input and the value and says what is accepted, in the tool's
// words rather than the library's class names.
INSTANTIATE_TEST_SUITE_P(
    Messages, PtmatchCliErrors,
    ::testing::Values(
        BadCase{"match -m unnamed_third.csv scene.csv",
                "unnamed_third.csv:1: 3 fields and no header line naming them; a third column is read only "
                "when named: start the file with \"x,y,weight\""},
        BadCase{"match -m model.csv scene.csv --columns a,b",
                "model.csv:1: the header names no column \"a\" (it has x, y, weight); choose the columns "
                "with --columns X,Y"},
        BadCase{"match -m model4.csv scene.csv --weight-column w",
                "model4.csv:1: the header names no column \"w\""},
        BadCase{"match -m too_few.csv scene.csv --columns x,y",
                "too_few.csv:1: --columns and --weight-column"},
        BadCase{"match -m model.csv scene.csv --columns x", "--columns: expected two column names X,Y"},
        BadCase{"match -m bad_type.json scene.csv", "bad_type.json: point 2: y must be a number, not \"25\""},
        BadCase{
            "match -m model.csv scene.csv --scale -0.1,0.1",
            "--scale takes scale factors from 0.1 up, smallest first (0.9,1.1 allows 0.9 to 1.1 times the "
            "model's size), not -0.1, 0.1"},
        BadCase{"match -m model.csv scene.csv --rotation -400,400",
                "--rotation (-400, 400) is wider than a full turn (360 degrees); for any rotation give full"},
        BadCase{"match -m model.csv scene.csv --rotation -5",
                "--rotation: DEG allows -DEG to DEG and must be >= 0"},
        BadCase{"match -m model.csv scene.csv --time-limit nan",
                "--time-limit must be a number of seconds > 0, or 0 for no limit, not nan"},
        BadCase{"match -m model.csv scene.csv --max-results 0",
                "--max-results: at least 1 result must be asked for"},
        BadCase{"match -m model.csv scene.csv --min-coverage 2",
                "--min-coverage: the least coverage must be a fraction from 0 to 1"},
        BadCase{"match -m model.csv scene.csv --x-range 5,-5", "--x-range: x range must not be empty"},
        BadCase{"match -m model.csv scene.csv --max-results 2.5",
                "--max-results: expected an integer >= 1, not \"2.5\""},
        BadCase{"grid grid.csv --xv 12,0 --yv 0,12 --snap -1",
                "--snap must be a distance > 0, or 0 for a fifth of the shorter step, not -1"},
        BadCase{"match -m model.csv scene.csv --start-pose 0,0,0,0,1,1",
                "scene.csv: run failed: the start pose must be invertible"},
        BadCase{"match -m model.csv scene.csv --threads 300",
                "--threads must be a whole number from 1 to 256, or 0 for one per core, not 300"},
        BadCase{"match -m model.csv scene.csv --threads -1",
                "--threads must be a whole number from 1 to 256, or 0 for one per core, not -1"},
        BadCase{"match -m model.csv scene.csv --search fast",
                "--search: fast not in {coarse-to-fine,single}"},
        BadCase{"match -m model4.csv scene.csv --mode exhaustive --search coarse-to-fine",
                "--search coarse-to-fine: serves tools trained from points with --mode auto"}));

// Every command prints one shape of JSON with its schema version, and a script finds a failed input in it
// with its error rather than only on stderr.
TEST(PtmatchCli, JsonHasOneVersionedShapeWithAnEntryForEveryInputFailedOnesIncluded) {
  for (const char* args : {"match -m model.csv scene.csv missing.csv bad_type.json --rotation 40 --json",
                           "grid grid.csv --xv 12,0 --yv 0,12 --json", "demo --json",
                           "grid missing.csv --xv 12,0 --yv 0,12 --json"}) {
    const Outcome o = ptmatch(args);
    const nlohmann::json doc = nlohmann::json::parse(o.out);
    EXPECT_EQ(doc["schema"], 1) << args;
    EXPECT_EQ(doc["command"], std::string(args).substr(0, std::string(args).find(' '))) << args;
    ASSERT_TRUE(doc["runs"].is_array()) << args;
    for (const auto& run : doc["runs"]) EXPECT_EQ(run["ok"].get<bool>(), !run.contains("error")) << args;
  }
  const Outcome o = ptmatch("match -m model.csv scene.csv missing.csv bad_type.json --rotation 40 --json");
  EXPECT_EQ(o.status, 2);
  const nlohmann::json runs = nlohmann::json::parse(o.out)["runs"];
  ASSERT_EQ(runs.size(), 3u);
  expectScenePose(runs[0]["results"][0]);
  EXPECT_EQ(runs[1]["file"], "missing.csv");
  EXPECT_EQ(runs[1]["error"], "missing.csv: cannot open file");
  EXPECT_EQ(runs[2]["error"], "bad_type.json: point 2: y must be a number, not \"25\"");
}

// What a detector writes: named columns in any order, extra columns ignored (never taken as weights),
// and points piped in on standard input.
TEST(PtmatchCli, NamedColumnsAreReadAndOthersIgnoredAndDashReadsStandardInput) {
  const Outcome named = ptmatch("match -m detections.csv scene.csv --rotation 40 --json");
  ASSERT_EQ(named.status, 0) << named.err;
  // Unweighted, 9 of the 10 points, where model.csv's weights give 10 of 11.
  const nlohmann::json best = nlohmann::json::parse(named.out)["runs"][0]["results"][0];
  EXPECT_NEAR(best["coverage"].get<double>(), 0.9, 1e-9);
  EXPECT_NEAR(best["pose"]["rotation_deg"].get<double>(), 30.0, kPoseTol);
  const Outcome piped = ptmatch("match -m model.csv - --rotation 40 --json < scene.csv");
  ASSERT_EQ(piped.status, 0) << piped.err;
  const nlohmann::json run = nlohmann::json::parse(piped.out)["runs"][0];
  EXPECT_EQ(run["file"], "-");
  expectScenePose(run["results"][0]);
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

// The 8192 x 4096 pattern would take 32 MB; under a 24 MB address-space limit the tool can only refuse it
// if it never allocates it (the same file with a third set pel fails there with bad_alloc). Sanitizers
// reserve terabytes of address space, so the limit cannot be applied under them.
TEST(PtmatchCli, APatternWithTooFewSetPelsIsRefusedWithoutAllocatingIt) {
  if (kSanitized) GTEST_SKIP() << "an address-space limit cannot be set under a sanitizer";
  const Outcome o = ptmatch("train -p pattern_two_pels.png -o /dev/null", "ulimit -v 24576 && ");
  EXPECT_EQ(o.status, 2);
  EXPECT_EQ(
      o.err,
      "ptmatch: error: pattern_two_pels.png: the pattern has 2 set (nonzero) pels; training needs at least "
      "3\n");
}

// A byte-order mark is skipped (before it, the CSV's first point was taken for a header and the JSON was
// no JSON), and the most negative 32-bit weight is read as given.
TEST(PtmatchCli, ByteOrderMarksAndTheMostNegativeWeightAreRead) {
  const Outcome o = ptmatch("match -m bom.json bom.csv --json");
  ASSERT_EQ(o.status, 0) << o.err;
  const nlohmann::json run = nlohmann::json::parse(o.out)["runs"][0];
  EXPECT_EQ(run["model_points"].get<int>(), 5);
  EXPECT_EQ(run["data_points"].get<int>(), 5);
  EXPECT_NEAR(run["results"][0]["coverage"].get<double>(), 1.0, 1e-9);
  const Outcome weighted = ptmatch("train -m min_weight.csv -o /dev/null");
  EXPECT_EQ(weighted.status, 0) << weighted.err;
}

TEST(PtmatchCli, HelpOfEverySubcommandSucceeds) {
  for (const char* sub : {"train", "run", "match", "grid", "demo"}) {
    const Outcome o = ptmatch(std::string(sub) + " --help");
    EXPECT_EQ(o.status, 0) << sub;
    EXPECT_NE(o.out.find("Usage:"), std::string::npos) << sub;
  }
}

}  // namespace

namespace {

// A 40-point model (extent 100, points at least 5 apart) and its instance turned by 131 degrees, scaled by
// 1.03 and shifted, with 4 points missing, 0.05 noise and ten clutter points per model point over three
// times the extent; or the clutter alone. Written as CSV files of the running test's own.
struct DenseScene {
  std::string model, scene, empty;
};

DenseScene writeDenseScene() {
  std::mt19937 rng(29);
  std::uniform_real_distribution<double> coord(0.0, 100.0), clutter(-150.0, 250.0);
  std::normal_distribution<double> noise(0.0, 0.05);
  std::vector<std::pair<double, double>> model;
  while (model.size() < 40) {
    const double x = coord(rng), y = coord(rng);
    bool clear = true;
    for (const auto& [mx, my] : model) clear = clear && std::hypot(x - mx, y - my) >= 5.0;
    if (clear) model.emplace_back(x, y);
  }
  const double a = 131.0 * 3.14159265358979323846 / 180.0, s = 1.03;
  std::vector<std::pair<double, double>> scene, empty;
  for (std::size_t i = 4; i < model.size(); ++i) {
    const auto [x, y] = model[i];
    scene.emplace_back(s * (std::cos(a) * x - std::sin(a) * y) + 40 + noise(rng),
                       s * (std::sin(a) * x + std::cos(a) * y) - 25 + noise(rng));
  }
  for (int k = 0; k < 400; ++k) {
    const double x = clutter(rng), y = clutter(rng);
    scene.emplace_back(x, y);
    empty.emplace_back(x, y);
  }
  std::shuffle(scene.begin(), scene.end(), rng);
  DenseScene files{outPath("dense_model.csv"), outPath("dense_scene.csv"), outPath("dense_empty.csv")};
  const auto write = [](const std::string& path, const std::vector<std::pair<double, double>>& points) {
    std::ofstream out(path);
    out.precision(10);
    for (const auto& [x, y] : points) out << x << ',' << y << '\n';
  };
  write(files.model, model);
  write(files.scene, scene);
  write(files.empty, empty);
  return files;
}

}  // namespace

// With nothing but the pose ranges the tool chooses its own search and finds the pose in dense clutter,
// with the same results on any number of threads, and says which settings it chose.
TEST(PtmatchCli, MatchWithOnlyThePoseRangesFindsAModelInDenseClutter) {
  const DenseScene files = writeDenseScene();
  const std::string common =
      "match -m '" + files.model + "' '" + files.scene + "' --rotation full --scale 0.95,1.05";
  const Outcome one = ptmatch(common + " --json --threads 1");
  ASSERT_EQ(one.status, 0) << one.err;
  const nlohmann::json run = nlohmann::json::parse(one.out)["runs"][0];
  const nlohmann::json& pose = run["results"][0]["pose"];
  EXPECT_NEAR(pose["rotation_deg"].get<double>(), 131.0, 0.1);
  EXPECT_NEAR(pose["scale"].get<double>(), 1.03, 1e-3);
  EXPECT_NEAR(pose["translation"][0].get<double>(), 40.0, 0.2);
  EXPECT_NEAR(pose["translation"][1].get<double>(), -25.0, 0.2);
  EXPECT_EQ(run["search"]["kind"], "coarse-to-fine");
  EXPECT_GT(run["search"]["coarse_grid_size"].get<double>(), run["search"]["grid_size"].get<double>());
  EXPECT_EQ(run["search"]["threads"], 1);

  // "auto" leaves the grid to the tool as much as leaving it out does; 256 threads is the most allowed.
  const Outcome two = ptmatch(common + " --json --threads 256 --grid-size auto");
  ASSERT_EQ(two.status, 0) << two.err;
  EXPECT_EQ(nlohmann::json::parse(two.out)["runs"][0]["results"], run["results"]);
  EXPECT_EQ(nlohmann::json::parse(two.out)["runs"][0]["search"]["kind"], "coarse-to-fine");

  const Outcome table = ptmatch(common);
  ASSERT_EQ(table.status, 0) << table.err;
  EXPECT_NE(table.out.find("search: coarse-to-fine, coarse grid"), std::string::npos) << table.out;
  // Progress goes only to a terminal: captured, stderr stays empty.
  EXPECT_EQ(table.err, "");
}

TEST(PtmatchCli, NoPoseFoundSaysHowCloseTheSearchCameAndWhatStoodInTheWay) {
  const DenseScene files = writeDenseScene();
  const Outcome absent =
      ptmatch("match -m '" + files.model + "' '" + files.empty + "' --rotation full --scale 0.95,1.05");
  EXPECT_EQ(absent.status, 1);
  EXPECT_NE(absent.out.find("no pose found: the best pose covered 0."), std::string::npos) << absent.out;
  EXPECT_NE(absent.out.find("below --min-coverage 0.5"), std::string::npos) << absent.out;

  // 4 of 40 points are missing: asking for 95 % of the model is what fails.
  const Outcome strict = ptmatch("match -m '" + files.model + "' '" + files.scene +
                                 "' --rotation full --scale 0.95,1.05 --min-coverage 0.95 --json");
  EXPECT_EQ(strict.status, 1);
  const nlohmann::json run = nlohmann::json::parse(strict.out)["runs"][0];
  EXPECT_EQ(run["limiting_option"], "--min-coverage");
  EXPECT_NEAR(run["search"]["best_coverage"].get<double>(), 0.9, 1e-9);
}

TEST(PtmatchCli, CtrlCStopsASearchCleanly) {
  const DenseScene files = writeDenseScene();
  // A single run at a grid this fine over any rotation takes far longer than the wait before Ctrl-C; the
  // time limit only keeps a broken stop from hanging the test.
  const std::string errFile = outPath("stderr.txt");
  const std::string script =
      std::string("'") + PTMATCH_EXE + "' match -m '" + files.model + "' '" + files.scene +
      "' --rotation full --scale 0.9,1.1 --search single --grid-size 0.2 --time-limit 60 2>'" + errFile +
      "' & pid=$!; sleep 0.5; kill -INT $pid; wait $pid; echo status=$?";
  FILE* pipe = popen(script.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string out;
  char buf[4096];
  std::size_t n;
  while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
  pclose(pipe);
  EXPECT_NE(out.find("status=130"), std::string::npos) << out;
  EXPECT_NE(readFile(errFile).find("interrupted (Ctrl-C)"), std::string::npos) << readFile(errFile);
}

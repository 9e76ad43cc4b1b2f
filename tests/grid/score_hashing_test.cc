// xcScoreHashing and the bucket store under it: which offers get in, which entry a full store gives up,
// where the lowest score moves, the read-out order, and the store with entries that own memory.
#include <ptmatch/score_hashing.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <ptmatch/bucket_store.h>

namespace {

using Pos = xcPair<std::int32_t>;
using Scored = std::pair<std::int32_t, Pos>;

std::vector<Scored> readOut(xcScoreHashing& store) {
  std::vector<Scored> out;
  Pos p;
  for (std::int32_t s = store.first(p); s != -1; s = store.next(p)) out.emplace_back(s, p);
  return out;
}

const Pos P(1, 10);
const Pos Q(2, 20);
const Pos R(3, 30);
const Pos S(4, 40);

// A sequence of offers to a fresh store, whether each is stored, and what the store holds afterwards.
struct Offer {
  std::int32_t score;
  Pos position;
  bool stored;
};
struct OfferCase {
  const char* name;
  std::int32_t maxScore;
  std::int32_t capacity;
  std::vector<Offer> offers;
  std::vector<Scored> held;  // in read-out order
  std::int32_t lowest;
};

// clang-format off
const OfferCase kOfferCases[] = {
    {"ScoresOutsideZeroToMaxScoreAreRefused", 10, 3,
     {{4, P, true}, {-1, Q, false}, {11, Q, false}, {0, Q, true}, {10, R, true}},
     {{10, R}, {4, P}, {0, Q}}, 0},
    {"AFullStoreGivesUpTheNewestOfItsLowestEntries", 10, 3,
     {{5, P, true}, {5, Q, true}, {7, R, true}, {6, S, true}}, {{7, R}, {6, S}, {5, P}}, 5},
    {"AFullStoreRefusesAScoreEqualToItsLowest", 10, 3,
     {{5, P, true}, {6, Q, true}, {7, R, true}, {5, S, false}}, {{7, R}, {6, Q}, {5, P}}, 5},
    {"EqualScoresAreReadNewestFirst", 10, 5,
     {{3, P, true}, {8, Q, true}, {3, R, true}, {3, S, true}}, {{8, Q}, {3, S}, {3, R}, {3, P}}, 3},
    {"CapacityOneKeepsTheFirstOfTheBest", 1000, 1,
     {{5, P, true}, {9, Q, true}, {7, R, false}, {9, R, false}}, {{9, Q}}, 9},
    {"LowestRisesToTheNewScoreWhenNothingLiesBetween", 10, 2,
     {{4, P, true}, {9, Q, true}, {6, R, true}}, {{9, Q}, {6, R}}, 6},
    {"LowestRisesOnlyToTheNextOccupiedScore", 10, 3,
     {{4, P, true}, {6, Q, true}, {9, R, true}, {8, S, true}}, {{9, R}, {8, S}, {6, Q}}, 6},
    {"LowestStaysWhileItsBucketHoldsOlderEntries", 10, 3,
     {{4, P, true}, {4, Q, true}, {9, R, true}, {7, S, true}}, {{9, R}, {7, S}, {4, P}}, 4},
};
// clang-format on

class ScoreHashingOffers : public ::testing::TestWithParam<OfferCase> {};

TEST_P(ScoreHashingOffers, StoresAndReadsOutAsTheRuleSays) {
  const OfferCase& c = GetParam();
  xcScoreHashing store(c.maxScore, c.capacity);
  for (const Offer& o : c.offers) EXPECT_EQ(store.add(o.score, o.position), o.stored) << "score " << o.score;
  EXPECT_EQ(readOut(store), c.held);
  EXPECT_EQ(store.numResults(), static_cast<std::int32_t>(c.held.size()));
  EXPECT_EQ(store.highestScore(), c.held.front().first);
  EXPECT_EQ(store.lowestScore(), c.lowest);
}

INSTANTIATE_TEST_SUITE_P(Examples, ScoreHashingOffers, ::testing::ValuesIn(kOfferCases),
                         [](const ::testing::TestParamInfo<OfferCase>& info) { return info.param.name; });

TEST(ScoreHashing, EmptyStoreReadsNothingAndLeavesThePositionAlone) {
  xcScoreHashing store;
  EXPECT_EQ(store.maxScore(), 1000);
  EXPECT_EQ(store.maxResults(), 1);
  Pos p(7, 7);
  EXPECT_EQ(store.first(p), -1);
  EXPECT_EQ(store.next(p), -1);
  EXPECT_EQ(p, Pos(7, 7));
  EXPECT_EQ(store.highestScore(), -1);
  EXPECT_EQ(store.lowestScore(), -1);
}

TEST(ScoreHashing, MaxEmptiesTheStoreAndTakesNewLimitsWhichClearKeeps) {
  xcScoreHashing store(10, 1);
  store.add(5, P);
  store.add(6, Q);
  Pos p;
  store.first(p);
  store.max(10, 1);  // also with unchanged sizes
  EXPECT_EQ(store.numResults(), 0);
  EXPECT_EQ(store.highestScore(), -1);
  EXPECT_EQ(store.next(p), -1);
  EXPECT_EQ(store.first(p), -1);
  store.add(9, R);
  store.max(3, 2);  // a larger capacity than before
  EXPECT_EQ(store.maxScore(), 3);
  EXPECT_EQ(store.maxResults(), 2);
  EXPECT_FALSE(store.add(4, P));
  EXPECT_TRUE(store.add(3, P));
  store.clear();
  EXPECT_EQ(store.numResults(), 0);
  EXPECT_EQ(store.lowestScore(), -1);
  EXPECT_TRUE(store.add(1, Q));
  EXPECT_TRUE(store.add(2, R));
  EXPECT_EQ(readOut(store), (std::vector<Scored>{{2, R}, {1, Q}}));
}

TEST(ScoreHashing, NextStaysAtMinusOneUntilTheNextFirst) {
  xcScoreHashing store(10, 2);
  Pos p;
  EXPECT_EQ(store.next(p), -1);  // no read-out started
  store.add(5, P);
  store.add(3, Q);
  EXPECT_EQ(store.first(p), 5);
  EXPECT_EQ(store.next(p), 3);
  EXPECT_EQ(store.next(p), -1);
  EXPECT_EQ(store.next(p), -1);
  EXPECT_EQ(p, Q);
  EXPECT_EQ(store.first(p), 5);
  EXPECT_EQ(p, P);
}

TEST(ScoreHashing, SizesBelowOneGiveAStoreThatRefusesEveryAdd) {
  for (const auto& sizes : {std::pair<int, int>{-1, 4}, {10, 0}, {10, -3}}) {
    xcScoreHashing store(sizes.first, sizes.second);
    EXPECT_FALSE(store.add(0, P));
    EXPECT_FALSE(store.add(5, P));
    EXPECT_EQ(store.numResults(), 0);
    EXPECT_EQ(store.maxScore(), sizes.first);
    EXPECT_EQ(store.maxResults(), sizes.second);
    Pos p;
    EXPECT_EQ(store.first(p), -1);
    store.max(10, 2);  // and it recovers with usable sizes
    EXPECT_TRUE(store.add(5, P));
  }
}

// An independent model of the rule: a plain list searched linearly.
class ReferenceStore {
 public:
  ReferenceStore(std::int32_t maxScore, std::int32_t capacity) : maxScore_(maxScore), capacity_(capacity) {}

  bool add(std::int32_t score, const Pos& p) {
    if (score < 0 || score > maxScore_) return false;
    const Item item{score, ++sequence_, p};
    if (static_cast<std::int32_t>(items_.size()) < capacity_) {
      items_.push_back(item);
      return true;
    }
    auto victim = std::min_element(items_.begin(), items_.end(), [](const Item& a, const Item& b) {
      return a.score != b.score ? a.score < b.score : a.sequence > b.sequence;
    });
    if (score <= victim->score) return false;
    *victim = item;
    return true;
  }
  void clear() { items_.clear(); }
  std::vector<Scored> readOut() const {
    std::vector<Item> sorted = items_;
    std::sort(sorted.begin(), sorted.end(), [](const Item& a, const Item& b) {
      return a.score != b.score ? a.score > b.score : a.sequence > b.sequence;
    });
    std::vector<Scored> out;
    for (const Item& i : sorted) out.emplace_back(i.score, i.p);
    return out;
  }
  std::int32_t lowest() const { return items_.empty() ? -1 : readOut().back().first; }
  std::int32_t highest() const { return items_.empty() ? -1 : readOut().front().first; }

 private:
  struct Item {
    std::int32_t score;
    std::int64_t sequence;
    Pos p;
  };
  std::int32_t maxScore_;
  std::int32_t capacity_;
  std::int64_t sequence_ = 0;
  std::vector<Item> items_;
};

class ScoreHashingRandom : public ::testing::TestWithParam<unsigned> {};

TEST_P(ScoreHashingRandom, AgreesWithAPlainListAfterEveryOffer) {
  std::mt19937 rng(GetParam());
  const std::int32_t maxScore = std::uniform_int_distribution<std::int32_t>(0, 12)(rng);
  const std::int32_t capacity = std::uniform_int_distribution<std::int32_t>(1, 6)(rng);
  xcScoreHashing store(maxScore, capacity);
  ReferenceStore reference(maxScore, capacity);
  std::uniform_int_distribution<std::int32_t> score(-1, maxScore + 1);
  for (std::int32_t step = 0; step < 400; ++step) {
    if (step % 97 == 96) {
      store.clear();
      reference.clear();
    }
    const Pos p(step, -step);
    const std::int32_t s = score(rng);
    ASSERT_EQ(store.add(s, p), reference.add(s, p)) << "step " << step << " score " << s;
    ASSERT_EQ(store.lowestScore(), reference.lowest()) << "step " << step;
    ASSERT_EQ(store.highestScore(), reference.highest()) << "step " << step;
    if (step % 7 == 0) {
      ASSERT_EQ(readOut(store), reference.readOut()) << "step " << step;
    }
  }
  EXPECT_EQ(readOut(store), reference.readOut());
}

INSTANTIATE_TEST_SUITE_P(Seeds, ScoreHashingRandom, ::testing::Range(1u, 41u));

// An entry that owns memory, as the pose store's does.
struct Track {
  std::string name;
  std::vector<std::int32_t> ids;
  bool operator==(const Track& o) const { return name == o.name && ids == o.ids; }
};

TEST(BucketStore, CopiesEntriesDeeplyAndReadsThemBackInOrder) {
  xc_BucketStore<Track> store(20, 3);
  Track t{"first", {1, 2, 3}};
  store.add(5, t);
  t.name = "changed";
  t.ids.push_back(4);
  store.add(7, Track{"second", {9}});
  store.add(5, Track{"third", {}});
  Track out;
  EXPECT_EQ(store.first(out), 7);
  EXPECT_EQ(out, (Track{"second", {9}}));
  EXPECT_EQ(store.next(out), 5);
  EXPECT_EQ(out, (Track{"third", {}}));
  EXPECT_EQ(store.next(out), 5);
  EXPECT_EQ(out, (Track{"first", {1, 2, 3}}));
  EXPECT_EQ(store.next(out), -1);
  ASSERT_TRUE(store.add(6, Track{"fourth", {8, 8}}));  // takes the node of "third"
  std::vector<std::string> names;
  store.forEachBestFirst([&](std::int32_t, const Track& e) {
    names.push_back(e.name);
    return true;
  });
  EXPECT_EQ(names, (std::vector<std::string>{"second", "fourth", "first"}));
}

TEST(BucketStore, EntryReadOutMatchesTheCopyingOneAndForEachLeavesTheCursorAlone) {
  xc_BucketStore<Track> store(9, 4);
  for (std::int32_t i = 0; i < 6; ++i) store.add((i * 5) % 9, Track{std::to_string(i), {i}});
  std::vector<std::pair<std::int32_t, std::string>> copied;
  Track out;
  for (std::int32_t s = store.first(out); s != -1; s = store.next(out)) copied.emplace_back(s, out.name);

  std::vector<std::pair<std::int32_t, std::string>> viewed;
  std::int32_t score = 0;
  for (const Track* e = store.firstEntry(score); e != nullptr; e = store.nextEntry(score)) {
    viewed.emplace_back(score, e->name);
    std::int32_t visits = 0;
    store.forEachBestFirst([&](std::int32_t, const Track&) { return ++visits < 2; });  // stops after two
    EXPECT_EQ(visits, 2);
  }
  EXPECT_EQ(score, -1);
  EXPECT_EQ(viewed, copied);
  ASSERT_EQ(copied.size(), 4u);
}

TEST(BucketStore, MaxWithUnchangedSizesReusesTheNodePool) {
  xc_BucketStore<Track> store(9, 2);
  store.add(3, Track{"a", {}});
  std::int32_t score = 0;
  const Track* before = store.firstEntry(score);
  store.max(9, 2);
  store.add(4, Track{"b", {}});
  EXPECT_EQ(store.firstEntry(score), before);
}

// Copying throws when asked to, like an entry whose vector cannot get memory.
struct Fragile {
  std::int32_t id = 0;
  bool explode = false;
  Fragile() = default;
  Fragile(std::int32_t i, bool e) : id(i), explode(e) {}
  Fragile(const Fragile& o) : id(o.id), explode(o.explode) {
    if (o.explode) throw std::runtime_error("copy failed");
  }
  Fragile& operator=(const Fragile& o) {
    if (o.explode) throw std::runtime_error("copy failed");
    id = o.id;
    explode = o.explode;
    return *this;
  }
  Fragile(Fragile&&) noexcept = default;
  Fragile& operator=(Fragile&&) noexcept = default;
};

TEST(BucketStore, AThrowingCopyLeavesTheStoreAsItWas) {
  for (std::int32_t capacity : {2, 3}) {  // full and not full
    xc_BucketStore<Fragile> store(10, capacity);
    store.add(3, Fragile(1, false));
    store.add(5, Fragile(2, false));
    EXPECT_THROW(store.add(7, Fragile(3, true)), std::runtime_error);
    EXPECT_EQ(store.numResults(), 2);
    EXPECT_EQ(store.highestScore(), 5);
    EXPECT_EQ(store.lowestScore(), 3);
    std::vector<std::int32_t> ids;
    store.forEachBestFirst([&](std::int32_t, const Fragile& f) {
      ids.push_back(f.id);
      return true;
    });
    EXPECT_EQ(ids, (std::vector<std::int32_t>{2, 1}));
  }
}

}  // namespace

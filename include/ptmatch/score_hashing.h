// xcScoreHashing: a bounded store of the best-scoring integer positions found by an exhaustive search,
// filled without sorting and without allocating while the search runs.
#pragma once

#include <cstdint>

#include <foundation/pair.h>
#include <ptmatch/bucket_store.h>

// Keeps at most maxResults() positions with whole-number scores 0..maxScore(), one bucket per score.
//
// Adding: a score outside 0..maxScore() is refused. Once the store is full, a new position gets in only
// when its score is strictly above lowestScore(); it then displaces the most recently added of the
// lowest-scoring positions. A position offered with a score equal to the lowest held never displaces one.
//
// Reading: first() then next() deliver every position held exactly once, in descending score order and,
// among equal scores, the most recently added first. The store is its own cursor, so one read-out runs at
// a time; reading does not remove anything. Adding during a read-out is safe for memory but may make the
// read-out skip or repeat positions.
//
// Cost: the constructor and max() allocate 4 bytes per score 0..maxScore plus one node per result
// (std::bad_alloc propagates and leaves the store as it was); add(), clear(), first() and next() never
// allocate. add() is constant time apart from a scan up the buckets after the last position of the lowest
// score was displaced.
//
// A negative maxScore, or a maxResults below 1, gives a store that holds nothing and refuses every add().
//
// Not copyable: a store is the working memory of one search.
class xcScoreHashing {
 public:
  // The default store takes scores 0..1000 and keeps the single best position.
  explicit xcScoreHashing(std::int32_t maxScore = 1000, std::int32_t maxResults = 1);
  ~xcScoreHashing();
  xcScoreHashing(const xcScoreHashing&) = delete;
  xcScoreHashing& operator=(const xcScoreHashing&) = delete;

  // Resizes and empties the store. Reallocates the bucket table only when maxScore changed and the node
  // pool only when maxResults changed; always empties, also when neither size changed.
  void max(std::int32_t maxScore, std::int32_t maxResults);
  // Empties the store, keeping its sizes and storage.
  void clear();
  // Offers a position; true when it was stored (see the class comment for the rule).
  bool add(std::int32_t score, const xcPair<std::int32_t>& position);
  // Starts a read-out at the highest score: writes that position and returns its score. Returns -1 and
  // leaves `position` untouched when the store is empty.
  std::int32_t first(xcPair<std::int32_t>& position);
  // Writes the next position of the read-out and returns its score. Returns -1 (position untouched) when
  // none is left or first() was not called since construction, clear() or max(); once it has returned -1
  // it keeps doing so until first() is called.
  std::int32_t next(xcPair<std::int32_t>& position);

  std::int32_t numResults() const;
  // The highest and the lowest score held; -1 when the store is empty.
  std::int32_t highestScore() const;
  std::int32_t lowestScore() const;
  std::int32_t maxResults() const;
  std::int32_t maxScore() const;

 private:
  xc_BucketStore<xcPair<std::int32_t>> store_;
};

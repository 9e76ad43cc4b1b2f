// A bounded store of the best-scoring entries of a search, kept without sorting and without allocating
// while the search runs: one bucket (a singly linked list) per whole-number score and a fixed pool of
// nodes. xcScoreHashing and the voting search's candidate and pose stores are built on it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <utility>
#include <vector>

// Keeps at most maxResults() entries with scores 0..maxScore(). Once full, a new entry gets in only by
// displacing the newest of the lowest-scoring entries, and only when its score is strictly higher than
// that lowest score: among equal scores the entries offered first stay. Entries are read back best first,
// and among equal scores newest first.
//
// Invariants: the nodes in use are the first numResults() nodes of the pool; when the store is not empty
// the buckets of highestScore() and lowestScore() are occupied and every entry lies between them; within
// a bucket the list runs from the newest entry to the oldest.
//
// Memory: 4 bytes per score in 0..maxScore (the bucket heads) plus maxResults() nodes, made by the
// constructor and max() only; std::bad_alloc from there propagates and leaves the store as it was. add(),
// clear() and the read-out never allocate, except that add() copies the entry (an entry that owns memory,
// such as a std::vector, may allocate for its copy).
//
// Sizes the store cannot use: a negative maxScore or a maxResults below 1 gives a store that holds
// nothing and refuses every add(); maxScore() and maxResults() still report the values given.
//
// Entry must be default-constructible, copy-constructible and copy- or nothrow-move-assignable.
//
// The store is its own cursor: one read-out at a time (first()/next() or firstEntry()/nextEntry()),
// started afresh by first(). Adding during a read-out is memory-safe but the read-out may then skip or
// repeat entries. forEachBestFirst() reads without the cursor.
template <class Entry>
class xc_BucketStore {
 public:
  explicit xc_BucketStore(std::int32_t maxScore = 1000, std::int32_t maxResults = 1) {
    max(maxScore, maxResults);
  }
  xc_BucketStore(const xc_BucketStore&) = delete;
  xc_BucketStore& operator=(const xc_BucketStore&) = delete;

  // Resizes and empties the store. The bucket table is reallocated only when maxScore changed, the node
  // pool only when maxResults changed; the store is emptied in every case.
  void max(std::int32_t maxScore, std::int32_t maxResults) {
    // Both allocations happen before anything changes, so a std::bad_alloc leaves the store intact.
    std::vector<std::int32_t> heads;
    std::vector<Node> pool;
    const bool newHeads = maxScore != maxScore_ || heads_.empty() != (maxScore < 0);
    const bool newPool = maxResults != maxResults_;
    if (newHeads && maxScore >= 0) heads.resize(static_cast<std::size_t>(maxScore) + 1, kNone);
    if (newPool && maxResults > 0) pool.resize(static_cast<std::size_t>(maxResults));
    if (newHeads) heads_.swap(heads);
    if (newPool) pool_.swap(pool);
    maxScore_ = maxScore;
    maxResults_ = maxResults;
    clear();
  }

  // Empties the store; both arrays stay allocated.
  void clear() {
    std::fill(heads_.begin(), heads_.end(), kNone);
    numResults_ = 0;
    highestScore_ = -1;
    lowestScore_ = -1;
    cursorNode_ = kNone;
    cursorScore_ = -1;
  }

  // Offers one entry; true when it was stored. Refused: a score outside 0..maxScore(), and, when the store
  // is full, a score not above lowestScore(). If copying the entry throws, the store is unchanged.
  bool add(std::int32_t score, const Entry& entry) {
    if (score < 0 || score > maxScore_ || maxResults_ < 1) return false;
    const bool full = numResults_ >= maxResults_;
    if (full && score <= lowestScore_) return false;
    const std::int32_t node = full ? heads_[index(lowestScore_)] : numResults_;
    store(pool_[index(node)].entry, entry);

    if (full) {
      // The evicted node is the head of the lowest bucket, the newest of the lowest-scoring entries.
      std::int32_t& lowestHead = heads_[index(lowestScore_)];
      lowestHead = pool_[index(node)].next;
      if (lowestHead == kNone) {
        // Climb to the next occupied bucket, or stop at the new score, whose bucket is about to be filled;
        // this also covers an eviction that emptied the whole store.
        while (lowestScore_ < score && heads_[index(lowestScore_)] == kNone) ++lowestScore_;
      }
      if (score > highestScore_) highestScore_ = score;
      --numResults_;
    } else if (numResults_ == 0) {
      highestScore_ = score;
      lowestScore_ = score;
    } else if (score < lowestScore_) {
      lowestScore_ = score;
    } else if (score > highestScore_) {
      highestScore_ = score;
    }

    pool_[index(node)].next = heads_[index(score)];
    heads_[index(score)] = node;
    ++numResults_;
    return true;
  }

  // Starts a read-out: copies the best entry into `out` and returns its score; -1 when the store is empty
  // (`out` untouched).
  std::int32_t first(Entry& out) {
    std::int32_t score = -1;
    if (const Entry* entry = firstEntry(score)) out = *entry;
    return score;
  }
  // Continues the read-out: copies the next entry into `out` and returns its score; -1 when none is left
  // or no read-out was started, and -1 again on every later call until first().
  std::int32_t next(Entry& out) {
    std::int32_t score = -1;
    if (const Entry* entry = nextEntry(score)) out = *entry;
    return score;
  }

  // The same read-out without copying: the entry stays valid until the next add(), clear() or max().
  // Returns nullptr and sets `score` to -1 when there is no entry.
  const Entry* firstEntry(std::int32_t& score) {
    score = -1;
    if (numResults_ < 1) return nullptr;
    cursorScore_ = highestScore_;
    cursorNode_ = heads_[index(cursorScore_)];
    score = cursorScore_;
    return &pool_[index(cursorNode_)].entry;
  }
  const Entry* nextEntry(std::int32_t& score) {
    score = -1;
    if (cursorNode_ == kNone) return nullptr;
    const std::int32_t successor = pool_[index(cursorNode_)].next;
    if (successor != kNone) {
      cursorNode_ = successor;
    } else {
      // The cursor stays on the last entry, so that every later call also ends here.
      if (cursorScore_ <= lowestScore_) return nullptr;
      do {
        --cursorScore_;
      } while (cursorScore_ > lowestScore_ && heads_[index(cursorScore_)] == kNone);
      cursorNode_ = heads_[index(cursorScore_)];
      if (cursorNode_ == kNone) return nullptr;  // only after adds during the read-out
    }
    score = cursorScore_;
    return &pool_[index(cursorNode_)].entry;
  }

  // Visits the entries in read-out order as visit(score, const Entry&), which returns false to stop.
  // Leaves the cursor alone, so it may run during a read-out.
  template <class F>
  void forEachBestFirst(F visit) const {
    if (numResults_ < 1) return;
    for (std::int32_t score = highestScore_; score >= lowestScore_; --score) {
      for (std::int32_t node = heads_[index(score)]; node != kNone; node = pool_[index(node)].next) {
        if (!visit(score, pool_[index(node)].entry)) return;
      }
    }
  }

  std::int32_t numResults() const { return numResults_; }
  // The highest and lowest score held; -1 when the store is empty.
  std::int32_t highestScore() const { return highestScore_; }
  std::int32_t lowestScore() const { return lowestScore_; }
  std::int32_t maxResults() const { return maxResults_; }
  std::int32_t maxScore() const { return maxScore_; }
  // No room for a new entry without displacing one (always true for a store sized below 1 entry).
  bool isFull() const { return numResults_ >= maxResults_; }

 private:
  // Marks the end of a bucket and an empty bucket; node indices instead of pointers keep the store
  // trivially relocatable and its links valid whatever the entry type.
  static constexpr std::int32_t kNone = -1;

  struct Node {
    Entry entry{};
    std::int32_t next = kNone;
  };

  static std::size_t index(std::int32_t i) { return static_cast<std::size_t>(i); }

  // Copies `entry` into a node so that a throwing copy leaves the node's old entry in place.
  static void store(Entry& slot, const Entry& entry) {
    if constexpr (std::is_nothrow_copy_assignable<Entry>::value) {
      slot = entry;
    } else {
      Entry copy(entry);
      slot = std::move(copy);
    }
  }

  std::int32_t maxResults_ = 0;
  std::int32_t maxScore_ = 0;
  std::int32_t numResults_ = 0;
  std::int32_t cursorNode_ = kNone;
  std::int32_t cursorScore_ = -1;
  std::vector<std::int32_t> heads_;  // maxScore_ + 1 heads, one per score
  std::vector<Node> pool_;           // maxResults_ nodes
  std::int32_t highestScore_ = -1;
  std::int32_t lowestScore_ = -1;
};

// xcScoreHashing: the bucket store with positions as entries.
#include <ptmatch/score_hashing.h>

xcScoreHashing::xcScoreHashing(std::int32_t maxScore, std::int32_t maxResults)
    : store_(maxScore, maxResults) {}

xcScoreHashing::~xcScoreHashing() = default;

void xcScoreHashing::max(std::int32_t maxScore, std::int32_t maxResults) { store_.max(maxScore, maxResults); }

void xcScoreHashing::clear() { store_.clear(); }

bool xcScoreHashing::add(std::int32_t score, const xcPair<std::int32_t>& position) {
  return store_.add(score, position);
}

std::int32_t xcScoreHashing::first(xcPair<std::int32_t>& position) { return store_.first(position); }

std::int32_t xcScoreHashing::next(xcPair<std::int32_t>& position) { return store_.next(position); }

std::int32_t xcScoreHashing::numResults() const { return store_.numResults(); }

std::int32_t xcScoreHashing::highestScore() const { return store_.highestScore(); }

std::int32_t xcScoreHashing::lowestScore() const { return store_.lowestScore(); }

std::int32_t xcScoreHashing::maxResults() const { return store_.maxResults(); }

std::int32_t xcScoreHashing::maxScore() const { return store_.maxScore(); }

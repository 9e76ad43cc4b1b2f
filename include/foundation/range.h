// A closed interval of doubles that may also be empty or the whole real line: tolerance ranges of
// translations and scales.
#pragma once

class xcArchive;

// Invariant: an ordinary range has start() <= end(), both non-NaN, not both infinite. An empty range
// reports start() == end() == 0 and a full one -inf and +inf; the kind, not the bounds, tells them from
// the ordinary range [0, 0].
class xcRange {
 public:
  // Relative widening of each end in isWithin: values within this fraction of max(1, |finite ends|)
  // outside an end count as inside. It absorbs the rounding of values that are mathematically on an end
  // (1 - (1 + 1e-16) is inside [0, 0]) while a difference of 1e-6 stays outside.
  static constexpr double kEndTolerance = 1e-12;

  // The empty range.
  xcRange() = default;
  // [start, end]. start > end gives the empty range, start = -inf with end = +inf the full range.
  // Throws xcMathError when a bound is NaN.
  xcRange(double start, double end);

  static xcRange FullRange();
  static xcRange EmptyRange() { return xcRange(); }

  double start() const { return start_; }
  double end() const { return end_; }
  bool isEmpty() const { return kind_ == Kind::eEmpty; }
  bool isFull() const { return kind_ == Kind::eFull; }

  // Whether v lies in the closed range widened at each end by kEndTolerance * max(1, |start|, |end|)
  // (infinite ends left out of the max). Never true for NaN or for the empty range; always true for any
  // other value in the full range.
  bool isWithin(double v) const;

  // Equal kinds and, for ordinary ranges, equal bounds (exact comparison).
  friend bool operator==(const xcRange& a, const xcRange& b);
  friend bool operator!=(const xcRange& a, const xcRange& b) { return !(a == b); }

 private:
  enum class Kind : unsigned char { eOrdinary = 0, eEmpty = 1, eFull = 2 };

  Kind kind_ = Kind::eEmpty;
  double start_ = 0.0;
  double end_ = 0.0;
};

// Archive record: one unsigned byte kind (0 ordinary, 1 empty, 2 full), then start and end as doubles.
// Loading throws xcArchive::BadData for any other kind and for an ordinary record with a NaN bound or
// start > end.
xcArchive& operator||(xcArchive& ar, xcRange& range);

// A range of directions on the circle, taken counter-clockwise from a start angle to an end angle:
// tolerance ranges of rotations.
#pragma once

#include <foundation/radian.h>

class xcArchive;

// Representation: a kind (ordinary, empty, full) and two angles. An ordinary range keeps start and end
// normalised into (-pi, pi]; it runs counter-clockwise from start to end, through +-pi when end < start,
// and is a single angle when start == end. An empty range reports start = end = 0, a full range
// start = -pi and end = +pi (length 2 pi, middle 0), wherever it was built from.
class xcAngleRange {
 public:
  // Widening of each end in isWithin, relative to max(1, |start|, |end|) (so about 1e-12 to 3e-12 rad).
  static constexpr double kEndTolerance = 1e-12;

  // The empty range.
  xcAngleRange() = default;
  // Counter-clockwise from start to end. The full circle when end - start >= 2 pi (so -pi..pi is full);
  // otherwise both are normalised into (-pi, pi], and if they are then equal the range is that single
  // angle, or the full circle when fullIfEqual. Throws xcMathError for a NaN or infinite angle.
  xcAngleRange(xcRadian start, xcRadian end, bool fullIfEqual);

  static xcAngleRange FullRange();
  static xcAngleRange EmptyRange() { return xcAngleRange(); }

  xcRadian start() const { return xcRadian(start_); }
  xcRadian end() const { return xcRadian(end_); }
  // The angle halfway along the range, in (-pi, pi]; 0 for the empty and the full range.
  xcRadian middle() const;
  // Counter-clockwise extent: in [0, 2 pi) for an ordinary range, 2 pi for the full and 0 for the empty one.
  xcRadian length() const;
  bool isEmpty() const { return kind_ == Kind::eEmpty; }
  bool isFull() const { return kind_ == Kind::eFull; }

  // Whether the direction `a` (any multiple of 2 pi added) lies in the range widened at each end by
  // kEndTolerance * max(1, |start|, |end|). False for the empty range and for a non-finite angle.
  bool isWithin(xcRadian a) const;

  // Equal kinds and, for ordinary ranges, equal normalised ends (exact comparison).
  friend bool operator==(const xcAngleRange& a, const xcAngleRange& b);
  friend bool operator!=(const xcAngleRange& a, const xcAngleRange& b) { return !(a == b); }

 private:
  enum class Kind : unsigned char { eOrdinary = 0, eEmpty = 1, eFull = 2 };

  Kind kind_ = Kind::eEmpty;
  double start_ = 0.0;
  double end_ = 0.0;
};

// Archive record: one unsigned byte kind (0 ordinary, 1 empty, 2 full), then start and end as doubles.
// Loading throws xcArchive::BadData for any other kind and for an ordinary record whose ends are not
// finite angles in (-pi, pi].
xcArchive& operator||(xcArchive& ar, xcAngleRange& range);

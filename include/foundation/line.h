// Infinite straight lines in the plane, used to tell whether point sets are collinear.
#pragma once

#include <foundation/vector.h>

class xcLine {
 public:
  // The x axis.
  xcLine() = default;
  // The line through `point` along `direction` (any length). A zero direction gives a degenerate line
  // that is just `point`: distToPoint then returns the distance to that point. Throws xcMathError when a
  // coordinate is NaN or infinite.
  xcLine(const xcVector<2>& direction, const xcVector<2>& point);

  // Unit direction, or (0, 0) for a degenerate line.
  const xcVector<2>& direction() const { return unit_; }
  const xcVector<2>& point() const { return point_; }

  // Perpendicular distance from p to the line (distance to point() for a degenerate line). Never NaN for
  // finite p.
  double distToPoint(const xcVector<2>& p) const;

 private:
  xcVector<2> unit_{1.0, 0.0};
  xcVector<2> point_;
};

// Copying the grid corresponder: a value type whose copies own their pattern pels.
#include <utility>

#include <ptmatch/point_to_grid_corresponder.h>

xc_PointToGridCorresponder::xc_PointToGridCorresponder(const xc_PointToGridCorresponder& other)
    : trainParams_(other.trainParams_),
      pattern_(other.pattern_.clone()),
      patternRect_(other.patternRect_),
      model_(other.model_) {}

xc_PointToGridCorresponder& xc_PointToGridCorresponder::operator=(const xc_PointToGridCorresponder& other) {
  if (this != &other) {
    // Copy first, so that a failed allocation leaves this corresponder as it was.
    xc_PointToGridCorresponder copy(other);
    *this = std::move(copy);
  }
  return *this;
}

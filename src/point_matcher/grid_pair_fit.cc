// Pairs of data points and pattern pels, with the collinearity tracking that chooses the fit.
#include "point_matcher/grid_pair_fit.h"

#include <foundation/pel_functions.h>

xc_GridPairFit::xc_GridPairFit(const xcPelBuffer_const<std::uint8_t>& pattern)
    : map_(pattern.width(), pattern.height(), 32) {
  map_.offset(pattern.offset());
  xfPelSet(map_, std::int32_t{-1});
}

void xc_GridPairFit::add(std::int32_t x, std::int32_t y, std::int32_t dataIndex,
                         const xcVector<2>& dataPoint) {
  const xcVector<2> pel(x, y);
  if (map_.get(x, y) < 0) {
    ++count_;
    track_(pel);
  }
  map_.put(x, y, dataIndex);
  fitter_.update(dataPoint, pel);
}

void xc_GridPairFit::track_(const xcVector<2>& pel) {
  if (!collinear_) return;
  if (count_ == 1) {
    first_ = second_ = pel;
  } else if (second_ == first_) {
    second_ = pel;
    if (!(second_ == first_)) line_ = xcLine(second_ - first_, first_);
  } else {
    collinear_ = line_.distToPoint(pel) < kCollinearDistance;
  }
}

xcXform<2> xc_GridPairFit::fit() const { return fitter_.fit(collinear_ ? 4 : 6); }

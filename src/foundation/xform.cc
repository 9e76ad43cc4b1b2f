// Plane affine transforms: the identity instance and the inverse.
#include <foundation/xform.h>

#include <cmath>

#include <foundation/exception.h>

// Constant-initialised (every constructor involved is constexpr), so it is ready before any dynamic
// initialisation in other translation units reads it.
const xcXform<2> xcXform<2>::I;

xcXform<2> xcXform<2>::inverse() const {
  const xcMatrix<2> inv = matrix_.inverse();
  const xcVector<2> t = -(inv * trans_);
  if (!std::isfinite(t.x()) || !std::isfinite(t.y()))
    throw xcMathError(L"xcXform<2>::inverse: the inverse translation does not fit in doubles");
  return xcXform(inv, t);
}

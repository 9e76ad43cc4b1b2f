// The local grid-to-image model of the indexer: a homography fitted to a few labelled nodes around the
// node to predict, or an affine model where they cannot determine one.
#pragma once

#include <cstdint>

#include <foundation/vector.h>

namespace grid_indexer {

// Fitted in coordinates relative to the node being predicted (grid offsets of a few steps, image
// positions centred on their mean and scaled to unit spread), so the 8 x 8 normal equations stay well
// conditioned whatever the image coordinates are; this is also why it does not use xc2PTm, whose
// equations are not normalised and whose fit goes through a general pseudo-inverse, far slower than one
// small Cholesky solve per probe.
class LocalModel {
 public:
  // Up to 9 x 9 nodes: the widest window fitAround uses.
  static constexpr int kMaxSamples = 81;

  class Samples {
   public:
    void clear() { n_ = 0; }
    void add(int gi, int gj, const xcVector<2>& p) {
      if (n_ == kMaxSamples) return;
      gi_[n_] = gi;
      gj_[n_] = gj;
      p_[n_] = p;
      ++n_;
    }
    int size() const { return n_; }

   private:
    friend class LocalModel;
    int n_ = 0;
    int gi_[kMaxSamples] = {};
    int gj_[kMaxSamples] = {};
    xcVector<2> p_[kMaxSamples];
  };

  // Fits the samples: a homography when they span at least 3 distinct columns and rows and number at
  // least 8, else an affine model when they are not collinear. False when neither is possible.
  bool fit(const Samples& s);
  // The image position of grid offset (gi, gj) from the fitted centre. False when the homography sends
  // it near or past the horizon (its depth below a fifth of the samples' smallest), where no board is.
  bool predict(double gi, double gj, xcVector<2>& out) const;
  bool projective() const { return projective_; }

 private:
  bool fitAffine_(const Samples& s);
  bool fitHomography_(const Samples& s);

  bool projective_ = false;
  double h_[8] = {};  // normalised image = (h0 g + h1 k + h2, h3 g + h4 k + h5) / (h6 g + h7 k + 1)
  double minDepth_ = 1.0;
  xcVector<2> mean_;
  double scale_ = 1.0;
};

// Solves the symmetric positive definite n x n system m x = v in place (x returned in v) by Cholesky.
// False when m is not positive definite to working precision.
bool choleskySolve(double* m, double* v, int n);

}  // namespace grid_indexer

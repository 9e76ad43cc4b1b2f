// Refinement and verification of the voting search's candidates.
#include "point_matcher/candidate_verification.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include <foundation/attention.h>
#include <foundation/ls_fitter.h>
#include <foundation/pel_functions.h>

#include "point_matcher/model_projection.h"
#include "point_matcher/pose_sampling.h"
#include "point_matcher/search_setup.h"

namespace {

using Points = std::vector<xcVector<2>>;
using Projected = std::vector<xcPair<std::int32_t>>;

// Every fit of these stages is a similarity: rotation, one scale and translation.
constexpr int kSimilarityDof = 4;
// A refit repeats an earlier one when its scale is within 1 % and its angle within a tenth of an angle
// step of it: voting again would only find the same peaks.
constexpr double kRepeatScaleRatio = 0.01;
constexpr double kRepeatAngleSteps = 0.1;
// Half the side of the pel window searched around each model point when re-matching (5 x 5 pels): the
// first fit is good to a pel or two.
constexpr std::int32_t kRematchHalfWindow = 2;

// The data index labelled at pel (x, y), or -1 for none or a pel outside the image. 64-bit coordinates, so
// a far-off model point cannot overflow on its way here.
std::int32_t labelAt(const xcPelBuffer<std::int32_t>& labels, std::int64_t x, std::int64_t y) {
  if (x < 0 || y < 0 || x >= labels.width() || y >= labels.height()) return -1;
  return labels.rowAt(static_cast<std::int32_t>(y))[x] - 1;
}

// For values the caller has bounded well inside 32 bits.
std::int32_t roundHalfAway(double v) {
  return static_cast<std::int32_t>(v >= 0.0 ? std::trunc(v + 0.5) : std::trunc(v - 0.5));
}

bool tryFit(const xcLSPointToPointFitter& fitter, xcXform<2>& fitted) {
  try {
    fitted = fitter.fit(kSimilarityDof);
    return true;
  } catch (const xcLSPointToPointFitter::Errors&) {
    return false;  // coincident or too few distinct points: this candidate has no pose
  } catch (const xcMathError&) {
    return false;
  }
}

void renderLabels(const Points& points, const xcXform<2>& searchToPel, xcPelBuffer<std::int32_t>& image,
                  std::int32_t half) {
  xfPelClear(image);
  for (std::size_t j = 0; j < points.size(); ++j) {
    xf_MarkPels(image, searchToPel * points[j], static_cast<std::int32_t>(j + 1), half);
  }
}

// The scale and rotation fitted to the block correspondences at a coarse candidate (search frame); false
// for fewer than two pairs, a failed fit or a singular one.
bool refitAt(const xc_VotingSearch& search, const xc_PoseCandidate& c,
             const xcPelBuffer<std::int32_t>& labels, Projected& projected, xcXform<2>& fitted) {
  const Points& searchFrameData = search.searchFrameData();
  const xc_PointMatcherModel& model = search.model();
  xf_ProjectCandidate(model, search.searchToPel(), c, projected);
  xcLSPointToPointFitter fitter;
  for (std::size_t i = 0; i < projected.size(); ++i) {
    const std::int32_t j = labelAt(labels, projected[i].x(), projected[i].y());
    if (j >= 0) fitter.update(searchFrameData[static_cast<std::size_t>(j)], model.points[i]);
  }
  if (fitter.count() < 2 || !tryFit(fitter, fitted)) return false;
  return !fitted.isSingular();
}

struct Refit {
  double angle;  // degrees
  double scale;
};

bool repeatsEarlierRefit(const std::vector<Refit>& refits, const Refit& r,
                         const xc_PointMatcherModel& model) {
  for (const Refit& earlier : refits) {
    const double ratio = r.scale / earlier.scale;
    if (!(ratio >= 1.0 - kRepeatScaleRatio && ratio <= 1.0 + kRepeatScaleRatio)) continue;
    // The model's own grid size, not the run's: the repeat test is about the model's resolution.
    const double step = xf_AngleStep(model.defaultGridSize, r.scale, model.radius);
    if (std::abs(r.angle - earlier.angle) / step <= kRepeatAngleSteps) return true;
  }
  return false;
}

}  // namespace

xcRange xf_ScaleTolerance(const xcPointMatcherRunParams& effectiveParams, const xc_PointMatcherModel& model) {
  const double step = xf_ScaleStep(effectiveParams.gridSize(), model.radius);
  const xcRange range = effectiveParams.scaleUncertainty();
  const double lo = std::max(1.0 + range.start(), kSmallestScale);
  return xcRange(lo - step, 1.0 + range.end() + step);
}

void xf_RenderLabelImage(const Points& points, const xcXform<2>& searchToPel,
                         xcPelBuffer<std::int32_t>& image) {
  renderLabels(points, searchToPel, image, 1);
}

void xf_RenderPelLabelImage(const Points& points, const xcXform<2>& searchToPel,
                            xcPelBuffer<std::int32_t>& image) {
  renderLabels(points, searchToPel, image, 0);
}

xc_LabelImages xf_RenderLabelImages(const xc_VotingSearch& search) {
  const xcPelBuffer<std::uint8_t>& dataImage = search.dataImage();
  xc_LabelImages labels{xcPelBuffer<std::int32_t>(dataImage.width(), dataImage.height(), 32),
                        xcPelBuffer<std::int32_t>(dataImage.width(), dataImage.height(), 32)};
  xf_RenderLabelImage(search.searchFrameData(), search.searchToPel(), labels.blocks);
  xf_RenderPelLabelImage(search.searchFrameData(), search.searchToPel(), labels.pels);
  return labels;
}

void xf_RefineCandidates(xc_VotingSearch& search, const xcPelBuffer<std::int32_t>& blockLabels) {
  const xc_PointMatcherModel& model = search.model();
  xc_CandidateStore& coarseStore = search.coarseStore();
  xc_CandidateStore& refinedStore = search.refinedStore();
  std::int32_t minVotes = search.leastVotes();
  std::vector<Refit> refits;
  Projected projected(model.points.size());
  std::int32_t score = -1;
  for (const xc_PoseCandidate* c = coarseStore.firstEntry(score); c != nullptr;
       c = coarseStore.nextEntry(score)) {
    xfThrowExceptionOnFailure(xsys_attention_check());
    xcXform<2> fitted;
    if (!refitAt(search, *c, blockLabels, projected, fitted)) continue;
    const Refit refit{fitted.matrix().xRot().toDouble() * kDegreesPerRadian, fitted.matrix().xScale()};
    if (repeatsEarlierRefit(refits, refit, model)) continue;
    refits.push_back(refit);
    // Translation is searched afresh over the whole window: one refit may find several instances.
    xf_ProjectModel(model.points,
                    xf_CandidateProjection(search.searchToPel(), model.center, refit.scale, refit.angle),
                    projected);
    if (refinedStore.isFull()) minVotes = refinedStore.lowestScore() + 1;
    search.votes().vote(projected, search.voteWeights());
    search.votes().collectPeaks(refit.scale, refit.angle, minVotes, refinedStore);
  }
}

namespace {

// Verification of one refined candidate after another; keeps its scratch lists between candidates.
class Verifier {
 public:
  Verifier(const xc_VotingSearch& search, const xc_LabelImages& labels, xc_PoseScoreStore& poses)
      : data_(search.data()),
        model_(search.model()),
        searchToPel_(search.searchToPel()),
        blockLabels_(labels.blocks),
        pelLabels_(labels.pels),
        captureLimit_(search.effectiveParams().captureRange() * search.effectiveParams().captureRange()),
        startInverse_(xf_StartPoseInverse(search.effectiveParams())),
        scales_(xf_ScaleTolerance(search.effectiveParams(), search.model())),
        poses_(poses),
        owner_(search.data().size(), -1) {}

  void verify(const xc_PoseCandidate& c) {
    xcXform<2> dataPose, pelPose;
    if (!fitFirstCorrespondences(c, dataPose, pelPose)) return;
    rematch(dataPose, pelPose);
    const bool fitted = count_ <= 1 || tryFit(dataFitter_, dataPose);
    if (fitted) {
      complete(dataPose);
      if (!isStoredAlready() && (count_ <= 1 || tryFit(dataFitter_, dataPose)) && scaleIsAllowed(dataPose)) {
        poses_.add(score(), xc_PoseScoreEntry{dataPose, pelPose, matches_});
      }
    }
    for (std::int32_t j : matches_) {
      if (j >= 0) owner_[static_cast<std::size_t>(j)] = -1;
    }
  }

 private:
  // The pose from the block correspondences at the candidate: model to the caller's frame (dataPose) and
  // model to the pels where the candidate put it (pelPose).
  bool fitFirstCorrespondences(const xc_PoseCandidate& c, xcXform<2>& dataPose, xcXform<2>& pelPose) {
    xf_ProjectCandidate(model_, searchToPel_, c, projected_);
    xcLSPointToPointFitter pelFitter;
    dataFitter_.reset();
    for (std::size_t i = 0; i < projected_.size(); ++i) {
      const std::int32_t j = labelAt(blockLabels_, projected_[i].x(), projected_[i].y());
      if (j < 0) continue;
      dataFitter_.update(data_[static_cast<std::size_t>(j)], model_.points[i]);
      pelFitter.update(xcVector<2>(projected_[i]), model_.points[i]);
    }
    if (dataFitter_.count() < 2) return false;
    return tryFit(dataFitter_, dataPose) && tryFit(pelFitter, pelPose);
  }

  // One-to-one matches: each model point, in order, takes the data point nearest to where dataPose puts
  // it among those labelled in the 5 x 5 pels around where pelPose puts it, unless an earlier point took it.
  void rematch(const xcXform<2>& dataPose, const xcXform<2>& pelPose) {
    matches_.assign(model_.points.size(), -1);
    count_ = 0;
    dataFitter_.reset();
    const std::int32_t w = pelLabels_.width();
    const std::int32_t h = pelLabels_.height();
    for (std::size_t i = 0; i < model_.points.size(); ++i) {
      const xcVector<2> p = pelPose * model_.points[i];
      // Beyond these bounds the 5 x 5 window misses the image (and the rounding could overflow).
      if (!(p.x() > -3.0 && p.x() < w + 2.0 && p.y() > -3.0 && p.y() < h + 2.0)) continue;
      const std::int32_t ix = roundHalfAway(p.x());
      const std::int32_t iy = roundHalfAway(p.y());
      const xcVector<2> q = dataPose * model_.points[i];
      std::int32_t best = -1;
      double bestD2 = 0.0;
      for (std::int32_t y = std::max(iy - kRematchHalfWindow, 0);
           y <= std::min(iy + kRematchHalfWindow, h - 1); ++y) {
        const std::int32_t* row = pelLabels_.rowAt(y);
        for (std::int32_t x = std::max(ix - kRematchHalfWindow, 0);
             x <= std::min(ix + kRematchHalfWindow, w - 1); ++x) {
          if (row[x] == 0) continue;
          const double d2 = squaredDistance(q, row[x] - 1);
          if (best < 0 || d2 < bestD2) {
            best = row[x] - 1;
            bestD2 = d2;
          }
        }
      }
      if (best < 0 || !(bestD2 < captureLimit_) || owner_[static_cast<std::size_t>(best)] >= 0) continue;
      match(i, best);
    }
  }

  // Each model point still unmatched takes the nearest unmatched data point within the capture range.
  void complete(const xcXform<2>& dataPose) {
    if (!(captureLimit_ > 0.0)) return;  // nothing is strictly closer than 0
    for (std::size_t i = 0; i < model_.points.size(); ++i) {
      if (matches_[i] >= 0) continue;
      const xcVector<2> q = dataPose * model_.points[i];
      std::int32_t best = -1;
      double bestD2 = 0.0;
      for (std::size_t j = 0; j < data_.size(); ++j) {
        if (owner_[j] >= 0) continue;
        const double d2 = squaredDistance(q, static_cast<std::int32_t>(j));
        if (best < 0 || d2 < bestD2) {
          best = static_cast<std::int32_t>(j);
          bestD2 = d2;
        }
      }
      if (best >= 0 && bestD2 < captureLimit_) match(i, best);
    }
  }

  void match(std::size_t i, std::int32_t j) {
    matches_[i] = j;
    owner_[static_cast<std::size_t>(j)] = static_cast<std::int32_t>(i);
    dataFitter_.update(data_[static_cast<std::size_t>(j)], model_.points[i]);
    ++count_;
  }

  double squaredDistance(const xcVector<2>& q, std::int32_t j) const {
    const xcVector<2>& d = data_[static_cast<std::size_t>(j)];
    const double dx = d.x() - q.x();
    const double dy = d.y() - q.y();
    return dx * dx + dy * dy;
  }

  // The refit follows the matched points wherever they lead: in crowded data a candidate may be matched
  // mostly to clutter, whose fit can have any scale. Such a pose is not one the caller allowed.
  bool scaleIsAllowed(const xcXform<2>& dataPose) const {
    const double scale = (startInverse_ * dataPose).matrix().xScale();
    return scale >= scales_.start() && scale <= scales_.end();
  }

  // Two candidates that end in the same correspondences are the same pose: keep the first.
  bool isStoredAlready() const {
    bool found = false;
    poses_.forEachBestFirst([&](std::int32_t, const xc_PoseScoreEntry& e) {
      found = e.modelToDataMap == matches_;
      return !found;
    });
    return found;
  }

  // Matched points, or the signed sum of their weights (negative sums are refused by the store).
  std::int32_t score() const {
    if (model_.weights.empty()) return count_;
    std::int64_t sum = 0;
    for (std::size_t i = 0; i < matches_.size(); ++i) {
      if (matches_[i] >= 0) sum += model_.weights[i];
    }
    return sum < 0 ? -1
                   : static_cast<std::int32_t>(
                         std::min<std::int64_t>(sum, std::numeric_limits<std::int32_t>::max()));
  }

  const Points& data_;
  const xc_PointMatcherModel& model_;
  const xcXform<2>& searchToPel_;
  const xcPelBuffer<std::int32_t>& blockLabels_;
  const xcPelBuffer<std::int32_t>& pelLabels_;
  const double captureLimit_;
  const xcXform<2> startInverse_;
  const xcRange scales_;  // scale factors (relative to the start pose) a stored pose may have
  xc_PoseScoreStore& poses_;
  std::vector<std::int32_t> owner_;  // per data point: the model point matched to it, or -1
  std::vector<std::int32_t> matches_;
  Projected projected_;
  xcLSPointToPointFitter dataFitter_;  // model to the caller's frame, over the current matches
  std::int32_t count_ = 0;
};

}  // namespace

void xf_VerifyCandidates(xc_VotingSearch& search, const xc_LabelImages& labels, xc_PoseScoreStore& poses) {
  xc_CandidateStore& refinedStore = search.refinedStore();
  Verifier verifier(search, labels, poses);
  std::int32_t score = -1;
  for (const xc_PoseCandidate* c = refinedStore.firstEntry(score); c != nullptr;
       c = refinedStore.nextEntry(score)) {
    xfThrowExceptionOnFailure(xsys_attention_check());
    verifier.verify(*c);
  }
}

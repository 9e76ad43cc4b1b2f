// The last two stages of the voting search: refinement refits scale and rotation at each coarse candidate
// and votes translation again at the refit; verification turns each refined candidate into one-to-one
// correspondences, a least-squares pose and a score in the run's pose store.
//
// Frames as in voting_search.h: refinement works in the search frame (data mapped by the inverse start
// pose), verification fits the stored pose against the caller's data points, so stored poses map model
// points into the caller's frame.
//
// Labels. A label image holds, per pel of the data image, the index + 1 of a data point, 0 for none. The
// labels are 32 bits wide, so every data point the search accepts keeps its own label (16-bit labels
// would wrap past 65535 data points and silently pair model points with the wrong data).
#pragma once

#include <cstdint>
#include <vector>

#include <foundation/pel_buffer.h>
#include <foundation/range.h>
#include <foundation/vector.h>
#include <foundation/xform.h>
#include <ptmatch/point_matcher_model.h>
#include <ptmatch/point_matcher_run_params.h>

#include "point_matcher/pose_score_store.h"
#include "point_matcher/voting_search.h"

// Block labels: clears `image` (already sized as the data image) and, for each point in order, writes
// j + 1 into every pel of the 3 x 3 block centred on (trunc q.x, trunc q.y), q = searchToPel(points[j]),
// that lies in the image; later points overwrite earlier ones. Its marked pels are those set in the data
// image.
void xf_RenderLabelImage(const std::vector<xcVector<2>>& points, const xcXform<2>& searchToPel,
                         xcPelBuffer<std::int32_t>& image);

// Pel labels: as above with the single pel (trunc q.x, trunc q.y) instead of the block.
void xf_RenderPelLabelImage(const std::vector<xcVector<2>>& points, const xcXform<2>& searchToPel,
                            xcPelBuffer<std::int32_t>& image);

// The two label images of a search's search-frame data, each the size of its data image.
struct xc_LabelImages {
  xcPelBuffer<std::int32_t> blocks;
  xcPelBuffer<std::int32_t> pels;
};
xc_LabelImages xf_RenderLabelImages(const xc_VotingSearch& search);

// For each candidate of the search's coarse store, best first (using the store's cursor): polls for a
// stop; pairs every model point that lands on a labelled pel of `blockLabels` at the candidate with that
// data point (search frame); fits scale and rotation to the pairs (dof 4); unless the refit repeats an
// earlier one (scale within 1 %, angle within a tenth of the angle step of the model's defaultGridSize),
// votes the model again at the refit over the whole window and offers the peaks to the refined store.
// Candidates with fewer than two pairs, a failed fit or a singular fit are skipped.
void xf_RefineCandidates(xc_VotingSearch& search, const xcPelBuffer<std::int32_t>& blockLabels);

// The scale factors, relative to the start pose, that a verified pose may have: the scale range with one
// scale sampling step (xf_ScaleStep at the effective grid size) to spare on each side, its lower end
// raised to kSmallestScale like the samples. The sampling and the refit reach no further from an allowed
// pose.
xcRange xf_ScaleTolerance(const xcPointMatcherRunParams& effectiveParams, const xc_PointMatcherModel& model);

// For each candidate of the search's refined store, best first: polls for a stop; fits the pose from the
// block correspondences (dropping candidates with fewer than two or a failed fit); re-matches every model
// point to the nearest data point in the 5 x 5 pels around where the fit puts it, one-to-one and closer
// than the capture range; completes the unmatched model points with the nearest unmatched data point
// closer than the capture range; drops the candidate when an equal modelToDataMap is already stored;
// refits, drops the pose when its scale lies outside xf_ScaleTolerance, and adds it with its score
// (matched points, or the signed sum of their weights) to `poses`. Uses captureRange, minCoverage,
// startPose, scaleUncertainty and gridSize of the effective parameters.
void xf_VerifyCandidates(xc_VotingSearch& search, const xc_LabelImages& labels, xc_PoseScoreStore& poses);

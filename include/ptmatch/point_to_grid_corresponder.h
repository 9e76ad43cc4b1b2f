// The grid corresponder locates a trained pattern of grid cells among run-time grid cells: it slides a
// model of "feature" cells over every integer shift, counts the features that agree with the data and
// reports the best shifts. The point matcher trains one from its grid pattern and runs it on the grid
// indices of its data points.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <foundation/exception.h>
#include <foundation/pair.h>
#include <foundation/pel_buffer.h>
#include <foundation/rectangle.h>
#include <foundation/xform.h>

class xcArchive;

// A class used as a namespace for the grid corresponder's enumeration and exceptions.
class xc_PointToGridCorresponderDefs {
 public:
  // How training picks the model's features from the pattern.
  enum FeatureType : std::int32_t {
    eAllPoints = 0,    // every pattern cell must be occupied; no cell is required empty
    eBoundary = 1,     // the pattern's boundary cells must be occupied, the empty cells touching them empty
    eWideBoundary = 2  // as eBoundary, with both bands widened by one edge neighbour
  };

  // Base of the grid corresponder's exceptions; catch it to catch them all.
  class Errors : public xcExceptionWithString {
   public:
    virtual std::int32_t errorNumber() const = 0;

   protected:
    explicit Errors(const std::wstring& message = std::wstring()) : xcExceptionWithString(message) {}
    Errors(const Errors&) = default;
    Errors& operator=(const Errors&) = default;

    // Archives the Errors level (a level byte 0) and the message below it, once per pass.
    void dispatchSerialize(xcArchive& ar) override;
    void serialize_(xcArchive& ar, unsigned char version);
  };

  // Training without enough cells: an image with fewer than 3 set pels, or an empty position list.
  class InsufficientModelPoints : public Errors {
   public:
    explicit InsufficientModelPoints(const std::wstring& message = std::wstring()) : Errors(message) {}
    std::int32_t errorNumber() const override { return 0x10005f06; }
    void suicideAndRethrow() override;

   protected:
    void dispatchSerialize(xcArchive& ar) override;
    void serialize_(xcArchive& ar, unsigned char version);
  };

  // A pattern box or a run's work image with more cells than xc_PointToGridCorresponder::kMaxCells,
  // refused before anything is allocated, with a message naming the size and the limit. Failed
  // allocations below that limit surface as std::bad_alloc.
  class InsufficientMemory : public Errors {
   public:
    explicit InsufficientMemory(const std::wstring& message = std::wstring()) : Errors(message) {}
    std::int32_t errorNumber() const override { return 0x10005f07; }
    void suicideAndRethrow() override;

   protected:
    void dispatchSerialize(xcArchive& ar) override;
    void serialize_(xcArchive& ar, unsigned char version);
  };
};

// How training reads the pattern. Nothing is checked: a feature type other than eBoundary and
// eWideBoundary trains as eAllPoints.
class xc_PointToGridCorresponderTrainParams {
 public:
  explicit xc_PointToGridCorresponderTrainParams(
      bool staggered = false,
      xc_PointToGridCorresponderDefs::FeatureType featureType = xc_PointToGridCorresponderDefs::eBoundary)
      : staggered_(staggered), featureType_(featureType) {}

  // On a staggered grid a cell's nearest neighbours are its four diagonal neighbours, otherwise its four
  // edge neighbours.
  bool staggered() const { return staggered_; }
  void staggered(bool v) { staggered_ = v; }
  xc_PointToGridCorresponderDefs::FeatureType featureType() const { return featureType_; }
  void featureType(xc_PointToGridCorresponderDefs::FeatureType v) { featureType_ = v; }

 private:
  friend xcArchive& operator||(xcArchive& ar, xc_PointToGridCorresponderTrainParams& params);

  bool staggered_;
  xc_PointToGridCorresponderDefs::FeatureType featureType_;
};

// How a run searches and reports. Nothing is checked here; see xc_PointToGridCorresponder::run for what
// values outside the usual ranges do.
class xc_PointToGridCorresponderRunParams {
 public:
  explicit xc_PointToGridCorresponderRunParams(double accept = 0.5, double confusion = 1.0,
                                               std::int32_t maxNumResults = 1)
      : maxNumResults_(maxNumResults), accept_(accept), confusion_(confusion) {}

  // Fraction of the model's features that must agree for a shift to be reported, normally 0 to 1.
  double accept() const { return accept_; }
  void accept(double v) { accept_ = v; }
  // Carried along and archived; the search does not use it.
  double confusion() const { return confusion_; }
  void confusion(double v) { confusion_ = v; }
  // Most results a run reports. 1 keeps the first best shift in scan order; larger values keep the best
  // shifts in a bounded store.
  std::int32_t maxNumResults() const { return maxNumResults_; }
  void maxNumResults(std::int32_t v) { maxNumResults_ = v; }

 private:
  friend xcArchive& operator||(xcArchive& ar, xc_PointToGridCorresponderRunParams& params);

  std::int32_t maxNumResults_;
  double accept_;
  double confusion_;
};

// One shift found by a run.
class xc_PointToGridCorresponderResult {
 public:
  // Not yet filled by a run: score 0, position (0, 0).
  xc_PointToGridCorresponderResult() = default;

  // Agreeing features divided by the number of features, 0 to 1 (the division is done as a product with
  // the reciprocal, so N agreeing features of N may give the double just below 1 for some N, such as 49).
  double score() const { return score_; }
  // The shift carrying the trained pattern onto the data: trained position (u, v) lies at (u + x, v + y).
  xcPair<std::int32_t> position() const { return position_; }

 private:
  friend class xc_PointToGridCorresponder;
  friend xcArchive& operator||(xcArchive& ar, xc_PointToGridCorresponderResult& result);

  bool valid_ = false;
  double score_ = 0.0;
  xcPair<std::int32_t> position_{0, 0};
};

// The results of one run, best first, and the time it took.
class xc_PointToGridCorresponderResultSet {
 public:
  // Seconds the run took; 0 in a new set.
  double time() const { return time_; }
  const std::vector<xc_PointToGridCorresponderResult>& results() const { return results_; }

 private:
  friend class xc_PointToGridCorresponder;
  friend xcArchive& operator||(xcArchive& ar, xc_PointToGridCorresponderResultSet& set);

  double time_ = 0.0;
  std::vector<xc_PointToGridCorresponderResult> results_;
};

// Finds where a trained pattern of grid cells lies in run-time grid cells.
//
// Training keeps the pattern as an image (one pel per cell of the trained positions' bounding box, 1 at
// each trained position, offset at the box's lower corner) and builds the model: the feature cells in
// raster order of the box, each with the value the data must have there (1 occupied, 0 empty).
//
// A run puts the data into a work image with two empty cells of margin on every side and scores every
// shift at which the pattern box fits inside it. A shift's score is the number of agreeing features, with
// one rule for speed: when none of the first N - m features agrees (N features, m = accept * N truncated;
// the first feature alone when m = N) the shift scores 0, whatever the remaining features give. Shifts
// scoring at least m, and at least 1 (a shift where nothing agrees is never reported), become results.
//
// Limits. A pattern box and a run's work image may hold at most kMaxCells cells; more throws
// InsufficientMemory before anything is allocated. A run costs about (shifts) x (features) / 16 byte
// comparisons, polls the calling thread's stop request (xsys_attention_check) once per row of shifts and
// every 2^22 comparisons within a row, and throws xcStopRequested when asked to stop. Reported shifts that
// would not fit 32-bit positions throw xcMathError before the search starts.
//
// Value type: copies own their pattern pels. run() is const and keeps its working storage local, so one
// trained corresponder may serve concurrent runs that have their own result sets.
class xc_PointToGridCorresponder {
 public:
  // One model cell, relative to the pattern box's lower corner.
  struct Feature {
    std::int32_t column = 0;
    std::int32_t row = 0;
    unsigned char value = 0;  // 1: the data cell must be occupied; 0: it must be empty
  };

  // 2^24 cells (4096 x 4096): far beyond a real grid pattern or grid data set, small enough that a run's
  // work image, row scores, store and results stay within a few hundred megabytes.
  static constexpr std::int64_t kMaxCells = std::int64_t{1} << 24;

  // Untrained: empty model, default train parameters, unbound pattern, pattern rectangle (0, 0, 0, 0).
  xc_PointToGridCorresponder() = default;
  // Copies own their pattern pels.
  xc_PointToGridCorresponder(const xc_PointToGridCorresponder& other);
  xc_PointToGridCorresponder& operator=(const xc_PointToGridCorresponder& other);
  xc_PointToGridCorresponder(xc_PointToGridCorresponder&&) = default;
  xc_PointToGridCorresponder& operator=(xc_PointToGridCorresponder&&) = default;
  ~xc_PointToGridCorresponder() = default;

  // Trains from the nonzero pels of `image` (any nonzero pel is an occupied cell), at their image
  // coordinates; the image's client-from-image transform becomes the pattern's. Throws
  // InsufficientModelPoints (empty message) when the image has fewer than 3 nonzero pels or no rows,
  // InsufficientMemory when their bounding box has more than kMaxCells cells, xcMathError when its
  // corners do not fit 32-bit coordinates. Polls the calling thread's stop once per row of each pass and
  // throws xcStopRequested when asked to stop. On a throw the train parameters are already replaced; the
  // pattern, its rectangle and the model are unchanged.
  void train(const xcPelBuffer_const<unsigned char>& image,
             const xc_PointToGridCorresponderTrainParams& params);
  // Trains from grid positions (duplicates count once; one position gives a 1 x 1 pattern).
  // `clientFromImage` becomes the pattern's client-from-image transform. Throws InsufficientModelPoints
  // for an empty list and InsufficientMemory when the positions' bounding box has more than kMaxCells
  // cells; stops and the state on a throw are as for the image overload.
  void train(const std::vector<xcPair<std::int32_t>>& positions,
             const xc_PointToGridCorresponderTrainParams& params, const xcXform<2>& clientFromImage);
  // Empties the model; the pattern, its rectangle and the train parameters stay.
  void untrain() { model_.clear(); }
  bool isTrained() const { return !model_.empty(); }

  const xcPelBuffer_const<unsigned char>& pattern() const { return pattern_; }
  const xc_PointToGridCorresponderTrainParams& trainParams() const { return trainParams_; }
  // The trained positions' bounding box; width() and height() are corner-to-corner extents.
  const xcRectangle<std::int32_t>& patternRect() const { return patternRect_; }
  // The features in raster order of the pattern box (rows upward, then columns upward).
  const std::vector<Feature>& model() const { return model_; }

  // Searches an image whose pels are 1 (occupied) or 0 (empty); a pel of any other value agrees with no
  // feature. Positions are reported in the image's coordinates (its offset included). Empties `results`
  // first and always sets its time. With maxNumResults 1 reports the first shift in scan order (rows
  // upward, then columns upward) with the highest score; with more, up to that many shifts best first,
  // among equal scores the later in scan order first. Returns true when at least one result was reported;
  // false with no results for an untrained corresponder, an image without pels or of 1 x 1 pel, an image
  // at least 5 pels narrower or lower than the pattern, maxNumResults below 1, an accept NaN or one that
  // asks for more features than the model has (accept * N >= N + 1), and when no shift passes.
  bool run(const xcPelBuffer_const<unsigned char>& image, const xc_PointToGridCorresponderRunParams& params,
           xc_PointToGridCorresponderResultSet& results) const;
  // Searches a list of occupied grid positions (every other cell of their bounding box is empty); reports
  // as above. Returns false with no results also for an empty list and for positions that all coincide.
  bool run(const std::vector<xcPair<std::int32_t>>& positions,
           const xc_PointToGridCorresponderRunParams& params,
           xc_PointToGridCorresponderResultSet& results) const;

 private:
  friend xcArchive& operator||(xcArchive& ar, xc_PointToGridCorresponder& corresponder);

  // The search proper over a prepared work image whose data cells start at (2, 2); dataOrigin gives the
  // data coordinates of work pel (2, 2).
  bool run_(const xcPelBuffer<unsigned char>& work, const xcPair<std::int32_t>& dataOrigin,
            const xc_PointToGridCorresponderRunParams& params,
            xc_PointToGridCorresponderResultSet& results) const;

  xc_PointToGridCorresponderTrainParams trainParams_;
  xcPelBuffer<unsigned char> pattern_;
  xcRectangle<std::int32_t> patternRect_;
  std::vector<Feature> model_;
};

// Archive records (version 1100; any other version is refused with xcArchive::UnknownVersion naming
// "ptmatch/gridcorr" and the line). Loading does not check parameter values. Loading a corresponder
// throws xcArchive::BadData for a record that could not have been trained (a negative or oversized box, a
// feature outside it, a pattern image of another size) and leaves the target unchanged on any throw.
xcArchive& operator||(xcArchive& ar, xc_PointToGridCorresponderTrainParams& params);
xcArchive& operator||(xcArchive& ar, xc_PointToGridCorresponderRunParams& params);
xcArchive& operator||(xcArchive& ar, xc_PointToGridCorresponderResult& result);
xcArchive& operator||(xcArchive& ar, xc_PointToGridCorresponderResultSet& set);
xcArchive& operator||(xcArchive& ar, xc_PointToGridCorresponder& corresponder);

// Every program that includes this header links the translation unit that registers the exception classes
// for loading by name, even when it never names one of them itself (a static library would otherwise drop
// that unit and its registrations).
extern const int xc_PointToGridCorresponderDefsRegistered;
[[maybe_unused]] static const int* const xc_PointToGridCorresponderDefsAnchor =
    &xc_PointToGridCorresponderDefsRegistered;

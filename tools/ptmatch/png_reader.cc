// Reads a grid pattern from a PNG file. A pattern only says which pels are grid nodes (nonzero) and which
// are empty (zero), so every PNG kind that keeps that distinction unambiguous is read, and the rest refused:
//   grey, 1 to 8 bits     read as is; 1, 2 and 4-bit values are stretched to 0..255
//   palette or RGB        each pel becomes the brightest of its red, green and blue, so exactly the black
//                         pels are empty
//   16-bit samples        refused: a pattern is a drawing of nodes, and 16-bit samples mean a measured image
//   alpha or tRNS         refused: whether a transparent pel is a node depends on what it is shown over
#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <vector>

#include "io.h"
#include "pattern_rows.h"

namespace ptmatch_cli {
namespace {

// Matches the PGM reader: a pattern is a grid of features, never a photograph.
constexpr png_uint_32 kMaxSide = 16384;

// libpng reports errors through a callback that must not return; it longjmps back to the setjmp of the
// reading step that failed. Only trivially destructible state lives in the frames it jumps over.
struct PngErrorText {
  char text[160] = {};
  char warning[160] = {};  // the last warning, which often says why the error came (a user limit hit)
};

[[noreturn]] void onPngError(png_structp png, png_const_charp message) {
  auto* error = static_cast<PngErrorText*>(png_get_error_ptr(png));
  std::snprintf(error->text, sizeof error->text, "%s", message);
  png_longjmp(png, 1);
}

// Warnings (unknown chunks, a wrong CRC in an ancillary chunk) do not make a pattern wrong; the last one is
// kept to explain an error that follows it.
void onPngWarning(png_structp png, png_const_charp message) {
  auto* error = static_cast<PngErrorText*>(png_get_error_ptr(png));
  std::snprintf(error->warning, sizeof error->warning, "%s", message);
}

class PngFile {
 public:
  explicit PngFile(const std::string& path) : path_(path), file_(std::fopen(path.c_str(), "rb")) {
    if (!file_) throw CliError(path + ": cannot open file");
    png_ = png_create_read_struct(PNG_LIBPNG_VER_STRING, &error_, onPngError, onPngWarning);
    if (png_) info_ = png_create_info_struct(png_);
    if (!png_ || !info_) {
      // The destructor does not run for a constructor that throws.
      png_destroy_read_struct(&png_, &info_, nullptr);
      std::fclose(file_);
      fail("out of memory");
    }
    png_set_user_limits(png_, kMaxSide, kMaxSide);
    png_init_io(png_, file_);
  }
  PngFile(const PngFile&) = delete;
  PngFile& operator=(const PngFile&) = delete;
  ~PngFile() {
    png_destroy_read_struct(&png_, &info_, nullptr);
    std::fclose(file_);
  }

  [[noreturn]] void fail(const std::string& problem) const { throw CliError(path_ + ": " + problem); }

  // Reads the header and checks that the file is a kind we read; then width() and height() hold.
  void readHeader() {
    if (!readInfo()) failBadPng();
    const int depth = png_get_bit_depth(png_, info_);
    const int type = png_get_color_type(png_, info_);
    if (depth == 16) fail("PNG with 16-bit samples; save the pattern with 8-bit samples");
    if ((type & PNG_COLOR_MASK_ALPHA) || png_get_valid(png_, info_, PNG_INFO_tRNS)) {
      fail("PNG with transparency; save the pattern without alpha or a transparent colour");
    }
    colour_ = (type & (PNG_COLOR_MASK_COLOR | PNG_COLOR_MASK_PALETTE)) != 0;
    if (!setUpTransforms(depth, type)) failBadPng();
  }

  std::int32_t width() const { return static_cast<std::int32_t>(png_get_image_width(png_, info_)); }
  std::int32_t height() const { return static_cast<std::int32_t>(png_get_image_height(png_, info_)); }

  // Decodes the pels row by row into `pattern`, colour reduced to the brightest channel. An interlaced
  // file is read pass by pass, each pass's pels going straight to their places, so that no more than one
  // row is ever held beside the pattern.
  void readPels(PatternRows& pattern) {
    const bool interlaced = png_get_interlace_type(png_, info_) == PNG_INTERLACE_ADAM7;
    std::vector<png_byte> row(png_get_rowbytes(png_, info_));
    std::vector<unsigned char> grey(colour_ ? static_cast<std::size_t>(width()) : 0);
    for (int pass = 0; pass < (interlaced ? 7 : 1); ++pass) {
      const std::int32_t cols = interlaced ? PNG_PASS_COLS(width(), pass) : width();
      const std::int32_t rows = interlaced ? PNG_PASS_ROWS(height(), pass) : height();
      if (cols == 0 || rows == 0) continue;  // libpng skips the passes that hold no pel
      const std::int32_t x0 = interlaced ? PNG_PASS_START_COL(pass) : 0;
      const std::int32_t step = interlaced ? 1 << PNG_PASS_COL_SHIFT(pass) : 1;
      for (std::int32_t r = 0; r < rows; ++r) {
        if (!readRow(row.data())) failBadPng();
        const unsigned char* pels = row.data();
        if (colour_) {
          for (std::int32_t x = 0; x < cols; ++x)
            grey[x] = std::max({row[3 * x], row[3 * x + 1], row[3 * x + 2]});
          pels = grey.data();
        }
        pattern.putRow(interlaced ? PNG_ROW_FROM_PASS_ROW(r, pass) : r, x0, step, pels, cols);
      }
    }
    if (!readEnd()) failBadPng();
  }

 private:
  [[noreturn]] void failBadPng() const {
    // libpng says only "Read Error" when the file is cut short, the commonest way a PNG is broken.
    if (std::feof(file_)) fail("bad PNG: the file ends early");
    std::string problem = std::string("bad PNG: ") + error_.text;
    if (error_.warning[0]) problem += std::string(" (") + error_.warning + ")";
    fail(problem);
  }

  bool readInfo() {
    if (setjmp(png_jmpbuf(png_))) return false;
    png_read_info(png_, info_);
    return true;
  }

  // Every libpng call that may fail runs under a setjmp of its own that is still live when it fails.
  bool setUpTransforms(int depth, int type) {
    if (setjmp(png_jmpbuf(png_))) return false;
    if (depth < 8 && !colour_) png_set_expand_gray_1_2_4_to_8(png_);
    if (type == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png_);
    // No interlace handling: readPels places each pass's pels itself instead of keeping a whole image.
    png_read_update_info(png_, info_);
    return true;
  }

  bool readRow(png_bytep row) {
    if (setjmp(png_jmpbuf(png_))) return false;
    png_read_row(png_, row, nullptr);
    return true;
  }

  bool readEnd() {
    if (setjmp(png_jmpbuf(png_))) return false;
    png_read_end(png_, nullptr);
    return true;
  }

  std::string path_;
  std::FILE* file_ = nullptr;
  png_structp png_ = nullptr;
  png_infop info_ = nullptr;
  PngErrorText error_;
  bool colour_ = false;
};

}  // namespace

bool isPng(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return false;
  png_byte signature[8] = {};
  const std::size_t n = std::fread(signature, 1, sizeof signature, file);
  std::fclose(file);
  return n == sizeof signature && png_sig_cmp(signature, 0, sizeof signature) == 0;
}

xcPelBuffer<unsigned char> readPng(const std::string& path, std::int64_t maxPels) {
  PngFile png(path);
  png.readHeader();
  checkImageBudget(path, png.width(), png.height(), maxPels);
  PatternRows pattern(path, png.width(), png.height());
  png.readPels(pattern);
  return pattern.finish();
}

}  // namespace ptmatch_cli

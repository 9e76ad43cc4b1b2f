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

  // Reads the header and checks that the file is a kind we read; then width(), height() and colour() hold.
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
  bool colour() const { return colour_; }
  std::size_t rowBytes() const { return png_get_rowbytes(png_, info_); }

  // Reads every row; rows[y] must hold rowBytes() bytes.
  void readRows(std::vector<png_bytep>& rows) {
    if (!readImage(rows.data())) failBadPng();
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
    png_set_interlace_handling(png_);
    png_read_update_info(png_, info_);
    return true;
  }

  bool readImage(png_bytepp rows) {
    if (setjmp(png_jmpbuf(png_))) return false;
    png_read_image(png_, rows);
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

xcPelBuffer<unsigned char> readPng(const std::string& path) {
  PngFile png(path);
  png.readHeader();
  xcPelBuffer<unsigned char> pattern(png.width(), png.height());
  std::vector<png_bytep> rows(static_cast<std::size_t>(png.height()));
  if (!png.colour()) {
    // Grey rows land straight in the pattern.
    for (std::int32_t y = 0; y < png.height(); ++y) rows[y] = pattern.pointToRow(y);
    png.readRows(rows);
    return pattern;
  }
  std::vector<png_byte> rgb(png.rowBytes() * rows.size());
  for (std::size_t y = 0; y < rows.size(); ++y) rows[y] = rgb.data() + y * png.rowBytes();
  png.readRows(rows);
  for (std::int32_t y = 0; y < png.height(); ++y) {
    const png_byte* in = rows[y];
    unsigned char* out = pattern.pointToRow(y);
    for (std::int32_t x = 0; x < png.width(); ++x, in += 3) out[x] = std::max({in[0], in[1], in[2]});
  }
  return pattern;
}

}  // namespace ptmatch_cli

#include "platform/d3dx/PngReader.h"

#include <png.h>

#include <cstdio>

namespace d3dx {

// libpng reports errors by a long jump back to the set-up point; the steps between work only on
// plain values, and the C++ objects live in the caller.
struct PngReadState {
  std::istream* in = nullptr;
  char error[200] = {};
  png_structp png = nullptr;
  png_infop info = nullptr;
  ~PngReadState() { png_destroy_read_struct(&png, &info, nullptr); }
};

namespace {

void PngError(png_structp png, png_const_charp message) {
  auto* r = static_cast<PngReadState*>(png_get_error_ptr(png));
  std::snprintf(r->error, sizeof r->error, "%s", message);
  png_longjmp(png, 1);
}

void PngWarning(png_structp, png_const_charp) {}

void PngData(png_structp png, png_bytep out, std::size_t size) {
  auto* r = static_cast<PngReadState*>(png_get_io_ptr(png));
  r->in->read(reinterpret_cast<char*>(out), static_cast<std::streamsize>(size));
  if (r->in->gcount() != static_cast<std::streamsize>(size)) png_error(png, "the file ends inside the image");
}

bool Header(PngReadState& r, png_uint_32& w, png_uint_32& h, int& depth, int& colour) {
  if (setjmp(png_jmpbuf(r.png))) return false;
  png_set_read_fn(r.png, &r, PngData);
  // No limit of libpng's own: its default refuses wide but valid images, and the caller sets its own.
  png_set_user_limits(r.png, 0x7FFFFFFF, 0x7FFFFFFF);
  png_read_info(r.png, r.info);
  int interlace = 0;
  png_get_IHDR(r.png, r.info, &w, &h, &depth, &colour, &interlace, nullptr, nullptr);
  return true;
}

bool Rows(PngReadState& r, int depth, int colour, png_bytepp rows) {
  if (setjmp(png_jmpbuf(r.png))) return false;
  if (depth < 8) png_set_expand_gray_1_2_4_to_8(r.png);
  if (colour & PNG_COLOR_MASK_ALPHA) png_set_strip_alpha(r.png);
  png_set_interlace_handling(r.png);
  png_read_update_info(r.png, r.info);
  png_read_image(r.png, rows);
  return true;
}

}  // namespace

bool PngReader::HasSignature(const unsigned char* bytes, std::size_t n) {
  return n >= 8 && png_sig_cmp(bytes, 0, 8) == 0;
}

PngReader::PngReader(std::istream& in) : state_(std::make_unique<PngReadState>()) {
  state_->in = &in;
  state_->png = png_create_read_struct(PNG_LIBPNG_VER_STRING, state_.get(), PngError, PngWarning);
  if (state_->png) state_->info = png_create_info_struct(state_->png);
}

PngReader::~PngReader() = default;

bool PngReader::Started() const {
  return state_->png && state_->info;
}

bool PngReader::ReadHeader() {
  png_uint_32 w = 0, h = 0;
  if (!Header(*state_, w, h, depth_, colour_)) return false;
  width_ = w;
  height_ = h;
  return true;
}

bool PngReader::IsPalette() const {
  return colour_ == PNG_COLOR_TYPE_PALETTE;
}

bool PngReader::HasColour() const {
  return (colour_ & PNG_COLOR_MASK_COLOR) != 0;
}

bool PngReader::HasAlpha() const {
  return (colour_ & PNG_COLOR_MASK_ALPHA) != 0;
}

bool PngReader::ReadGreyRows(std::uint8_t** rows) {
  return Rows(*state_, depth_, colour_, rows);
}

const char* PngReader::Error() const {
  return state_->error;
}

}  // namespace d3dx

#include "platform/d3dx/ImageDecoders.h"

// clang-format off
#include <cstdio>  // jpeglib.h needs FILE first
#include <jpeglib.h>
#include <jerror.h>
// clang-format on
#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstring>

namespace d3dx::image {

// ---------------------------------------------------------------------------------------------
// Reducing while decoding.

Reducer::Reducer(int width, int height, int factor, bool rowsInOrder)
    : width_(width), height_(height), shift_(0), inOrder_(rowsInOrder) {
  while ((1 << shift_) < factor) ++shift_;
  out_.width = (width + factor - 1) >> shift_;
  out_.height = (height + factor - 1) >> shift_;
  const std::size_t rowTexels = static_cast<std::size_t>(out_.width);
  const std::size_t texels = rowTexels * static_cast<std::size_t>(out_.height);
  // Up to 16 x 16 pixels of 255 each add up within 16 bits.
  if (inOrder_) {
    out_.rgba.reserve(texels * 4);
    if (shift_ > 0) sums_.assign(rowTexels * 4, 0);
  } else if (shift_ > 0) {
    sums_.assign(texels * 4, 0);
  } else {
    out_.rgba.assign(texels * 4, 0);
  }
}

void Reducer::Add(int y, const std::uint8_t* rgba, int x0, int step, int n) {
  if (y < 0 || y >= height_ || x0 < 0) return;
  n = std::min(n, (width_ - x0 + step - 1) / step);
  if (n <= 0) return;
  const std::size_t rowBytes = static_cast<std::size_t>(out_.width) * 4;
  if (shift_ == 0) {
    if (inOrder_) {
      // Rows in order, whole: each becomes the next texel row (rows the decoder skipped stay zero).
      if (static_cast<std::size_t>(y) * rowBytes < out_.rgba.size()) return;
      out_.rgba.resize(static_cast<std::size_t>(y) * rowBytes, 0);
      out_.rgba.insert(out_.rgba.end(), rgba, rgba + static_cast<std::size_t>(n) * 4);
      out_.rgba.resize(static_cast<std::size_t>(y + 1) * rowBytes, 0);
      return;
    }
    std::uint8_t* row = out_.rgba.data() + static_cast<std::size_t>(y) * rowBytes;
    for (int i = 0, x = x0; i < n; ++i, x += step) std::memcpy(row + x * 4, rgba + i * 4, 4);
    return;
  }
  std::uint16_t* row;
  if (inOrder_) {
    if ((y >> shift_) < band_) return;
    while ((y >> shift_) > band_) flushBand();
    row = sums_.data();
  } else {
    row = sums_.data() + static_cast<std::size_t>(y >> shift_) * rowBytes;
  }
  for (int i = 0, x = x0; i < n; ++i, x += step) {
    std::uint16_t* s = row + ((x >> shift_) << 2);
    const std::uint8_t* p = rgba + i * 4;
    s[0] = static_cast<std::uint16_t>(s[0] + p[0]);
    s[1] = static_cast<std::uint16_t>(s[1] + p[1]);
    s[2] = static_cast<std::uint16_t>(s[2] + p[2]);
    s[3] = static_cast<std::uint16_t>(s[3] + p[3]);
  }
}

// Turns the band's sums into its row of texels and starts the next band.
void Reducer::flushBand() {
  const int factor = 1 << shift_;
  const int rows = std::min(factor, height_ - band_ * factor);
  const std::size_t start = static_cast<std::size_t>(band_) * out_.width * 4;
  out_.rgba.resize(start + static_cast<std::size_t>(out_.width) * 4);
  for (int tx = 0; tx < out_.width; ++tx) {
    const unsigned count = static_cast<unsigned>(rows * std::min(factor, width_ - tx * factor));
    for (int c = 0; c < 4; ++c) {
      const std::size_t at = static_cast<std::size_t>(tx) * 4 + c;
      out_.rgba[start + at] = static_cast<std::uint8_t>((sums_[at] + count / 2) / count);
    }
  }
  std::fill(sums_.begin(), sums_.end(), 0);
  ++band_;
}

d3d::Texture::Level Reducer::Finish() {
  const std::size_t total = static_cast<std::size_t>(out_.width) * out_.height * 4;
  if (inOrder_) {
    if (shift_ > 0 && band_ < out_.height) flushBand();
    out_.rgba.resize(total, 0);
  } else if (shift_ > 0) {
    const int factor = 1 << shift_;
    out_.rgba.resize(total);
    for (int ty = 0; ty < out_.height; ++ty) {
      const int rows = std::min(factor, height_ - ty * factor);
      for (int tx = 0; tx < out_.width; ++tx) {
        const unsigned count = static_cast<unsigned>(rows * std::min(factor, width_ - tx * factor));
        const std::size_t at = (static_cast<std::size_t>(ty) * out_.width + tx) * 4;
        for (int c = 0; c < 4; ++c)
          out_.rgba[at + c] = static_cast<std::uint8_t>((sums_[at + c] + count / 2) / count);
      }
    }
  }
  sums_ = {};
  return std::move(out_);
}

int ReductionFactor(int width, int height, int maxSide) {
  int f = 1;
  while ((width + f - 1) / f > maxSide || (height + f - 1) / f > maxSide) f *= 2;
  return f;
}

namespace {

// ---------------------------------------------------------------------------------------------
// JPEG. libjpeg reports errors by longjmp; everything it touches lives in one job object outside
// the frame that calls setjmp, so the jump skips no destructor and finds every value in memory.

// What libjpeg may allocate for a progressive image's coefficients, and how many scans it may
// read: together they bound the cost of an image whose header claims far more than its data holds.
constexpr long kJpegMemory = 320L << 20;
constexpr int kMaxJpegScans = 100;

struct JpegJob {
  jpeg_decompress_struct cinfo{};
  jpeg_error_mgr err{};
  jpeg_progress_mgr progress{};
  std::jmp_buf jump{};
  char message[JMSG_LENGTH_MAX] = "";
  bool created = false;
  bool header = false;
  ~JpegJob() {
    if (created) jpeg_destroy_decompress(&cinfo);
  }
};

JpegJob& JobOf(j_common_ptr c) {
  return *static_cast<JpegJob*>(c->client_data);
}

[[noreturn]] void JpegError(j_common_ptr c) {
  // Past the memory bound libjpeg would page its coefficients out to disk, which it cannot here.
  if (c->err->msg_code == JERR_NO_BACKING_STORE)
    std::snprintf(JobOf(c).message, sizeof JobOf(c).message,
                  "its coefficients need more than the %ld MB a progressive image may take",
                  kJpegMemory >> 20);
  else
    (*c->err->format_message)(c, JobOf(c).message);
  std::longjmp(JobOf(c).jump, 1);
}

// Warnings (a file cut short, say) are not printed: the image decodes as viewers show it.
void JpegMessage(j_common_ptr) {}

void JpegProgress(j_common_ptr c) {
  if (!c->is_decompressor) return;
  if (reinterpret_cast<j_decompress_ptr>(c)->input_scan_number > kMaxJpegScans) {
    std::snprintf(JobOf(c).message, sizeof JobOf(c).message, "more than %d scans", kMaxJpegScans);
    std::longjmp(JobOf(c).jump, 1);
  }
}

bool JpegHeader(JpegJob* job, const std::uint8_t* data, std::size_t size) {
  job->cinfo.err = jpeg_std_error(&job->err);
  job->err.error_exit = JpegError;
  job->err.output_message = JpegMessage;
  job->cinfo.client_data = job;
  if (setjmp(job->jump)) return false;
  jpeg_create_decompress(&job->cinfo);
  job->created = true;
  job->cinfo.mem->max_memory_to_use = kJpegMemory;
  job->progress.progress_monitor = JpegProgress;
  job->cinfo.progress = &job->progress;
  jpeg_mem_src(&job->cinfo, data, static_cast<unsigned long>(size));
  jpeg_read_header(&job->cinfo, TRUE);
  job->header = true;
  return true;
}

bool JpegPixels(JpegJob* job, int factor, d3d::Texture::Level* out) {
  if (setjmp(job->jump)) return false;
  jpeg_decompress_struct& c = job->cinfo;
  const bool cmyk = c.jpeg_color_space == JCS_CMYK || c.jpeg_color_space == JCS_YCCK;
  c.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_RGBA;
  c.scale_num = 1;
  c.scale_denom = static_cast<unsigned>(factor);
  jpeg_start_decompress(&c);
  out->width = static_cast<int>(c.output_width);
  out->height = static_cast<int>(c.output_height);
  out->rgba.resize(static_cast<std::size_t>(c.output_width) * c.output_height * 4);
  while (c.output_scanline < c.output_height) {
    JSAMPROW row = out->rgba.data() + static_cast<std::size_t>(c.output_scanline) * c.output_width * 4;
    jpeg_read_scanlines(&c, &row, 1);
  }
  // Adobe's CMYK, stored inverted: each colour is its ink times the black, as TurboJPEG converts it.
  if (cmyk)
    for (std::size_t i = 0; i < out->rgba.size(); i += 4) {
      std::uint8_t* p = &out->rgba[i];
      const unsigned k = p[3];
      for (int ch = 0; ch < 3; ++ch) p[ch] = static_cast<std::uint8_t>((p[ch] * k + 127) / 255);
      p[3] = 255;
    }
  return true;
}

// ---------------------------------------------------------------------------------------------
// PNG, read row by row so that a large image costs no more memory than its reduced size. libpng
// applies no gamma and no colour conversion unless asked: the texels are the stored samples.

struct PngJob {
  png_structp png = nullptr;
  png_infop info = nullptr;
  const std::uint8_t* data = nullptr;
  std::size_t size = 0, pos = 0;
  char message[256] = "";
  bool header = false;
  ~PngJob() { png_destroy_read_struct(&png, info ? &info : nullptr, nullptr); }
};

[[noreturn]] void PngError(png_structp png, png_const_charp msg) {
  auto* job = static_cast<PngJob*>(png_get_error_ptr(png));
  std::snprintf(job->message, sizeof job->message, "%s", msg);
  png_longjmp(png, 1);
}

void PngWarning(png_structp, png_const_charp) {}

void PngRead(png_structp png, png_bytep out, png_size_t n) {
  auto* job = static_cast<PngJob*>(png_get_io_ptr(png));
  if (n > job->size - job->pos) png_error(png, "the file ends inside the image");
  std::memcpy(out, job->data + job->pos, n);
  job->pos += n;
}

bool PngHeader(PngJob* job) {
  job->png = png_create_read_struct(PNG_LIBPNG_VER_STRING, job, PngError, PngWarning);
  if (!job->png) return false;
  job->info = png_create_info_struct(job->png);
  if (!job->info) return false;
  if (setjmp(png_jmpbuf(job->png))) return false;
  png_set_read_fn(job->png, job, PngRead);
  png_read_info(job->png, job->info);
  job->header = true;
  return true;
}

bool PngPixels(PngJob* job, Reducer* reducer, std::vector<std::uint8_t>* row) {
  if (setjmp(png_jmpbuf(job->png))) return false;
  png_structp png = job->png;
  png_infop info = job->info;
  // Palette to RGB, grey below 8 bits to 8 bits, tRNS to alpha; 16-bit samples to 8 by rounding
  // v x 255 / 65535; grey to RGB; opaque alpha where the image has none.
  png_set_expand(png);
  png_set_scale_16(png);
  png_set_gray_to_rgb(png);
  png_set_add_alpha(png, 0xFFFF, PNG_FILLER_AFTER);
  png_read_update_info(png, info);
  const png_uint_32 width = png_get_image_width(png, info);
  const png_uint_32 height = png_get_image_height(png, info);
  if (png_get_rowbytes(png, info) != static_cast<png_size_t>(width) * 4)
    png_error(png, "rows of an unexpected layout");
  row->resize(static_cast<std::size_t>(width) * 4);
  // Without libpng's interlace handling an Adam7 image arrives as its seven reduced passes, each
  // pixel of which has its place in the full image.
  const bool adam7 = png_get_interlace_type(png, info) == PNG_INTERLACE_ADAM7;
  for (int pass = 0; pass < (adam7 ? 7 : 1); ++pass) {
    const png_uint_32 cols = adam7 ? PNG_PASS_COLS(width, pass) : width;
    const png_uint_32 rows = adam7 ? PNG_PASS_ROWS(height, pass) : height;
    if (cols == 0 || rows == 0) continue;
    for (png_uint_32 r = 0; r < rows; ++r) {
      png_read_row(png, row->data(), nullptr);
      if (adam7)
        reducer->Add(static_cast<int>(PNG_ROW_FROM_PASS_ROW(r, pass)), row->data(),
                     static_cast<int>(PNG_COL_FROM_PASS_COL(0, pass)), 1 << PNG_PASS_COL_SHIFT(pass),
                     static_cast<int>(cols));
      else
        reducer->Add(static_cast<int>(r), row->data(), 0, 1, static_cast<int>(cols));
    }
  }
  return true;
}

}  // namespace

void JpegSize(const std::uint8_t* data, std::size_t size, int& width, int& height) {
  JpegJob job;
  if (!JpegHeader(&job, data, size)) throw DecodeError{job.message, false};
  width = static_cast<int>(job.cinfo.image_width);
  height = static_cast<int>(job.cinfo.image_height);
}

d3d::Texture::Level JpegDecode(const std::uint8_t* data, std::size_t size, int factor) {
  JpegJob job;
  d3d::Texture::Level out;
  if (!JpegHeader(&job, data, size) || !JpegPixels(&job, factor, &out))
    throw DecodeError{job.message, job.header};
  return out;
}

void PngSize(const std::uint8_t* data, std::size_t size, int& width, int& height) {
  PngJob job;
  job.data = data;
  job.size = size;
  if (!PngHeader(&job)) throw DecodeError{job.message[0] ? job.message : "cannot start libpng", false};
  width = static_cast<int>(png_get_image_width(job.png, job.info));
  height = static_cast<int>(png_get_image_height(job.png, job.info));
}

d3d::Texture::Level PngDecode(const std::uint8_t* data, std::size_t size, int factor) {
  PngJob job;
  job.data = data;
  job.size = size;
  if (!PngHeader(&job)) throw DecodeError{job.message[0] ? job.message : "cannot start libpng", false};
  Reducer reducer(static_cast<int>(png_get_image_width(job.png, job.info)),
                  static_cast<int>(png_get_image_height(job.png, job.info)), factor,
                  png_get_interlace_type(job.png, job.info) != PNG_INTERLACE_ADAM7);
  std::vector<std::uint8_t> row;
  if (!PngPixels(&job, &reducer, &row)) throw DecodeError{job.message, true};
  return reducer.Finish();
}

}  // namespace d3dx::image

// RGBA pictures as JPEG files through libjpeg-turbo: the stills a greeting is previewed by.
// jpeglib.h needs size_t and FILE declared before it.
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <cstdlib>

#include <jpeglib.h>

#include "platform/base/Error.h"
#include "platform/d3dx/Texture.h"
#include "platform/files/AtomicOutput.h"

namespace d3dx {

namespace {

// libjpeg reports errors by longjmp: everything it touches lives in this object, outside the frame
// that calls setjmp, so the jump skips no destructor.
struct JpegEncodeJob {
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr err{};
  std::jmp_buf jump{};
  char message[JMSG_LENGTH_MAX] = "";
  unsigned char* out = nullptr;
  unsigned long outSize = 0;
  bool created = false;
  ~JpegEncodeJob() {
    if (created) jpeg_destroy_compress(&cinfo);
    std::free(out);
  }
};

[[noreturn]] void EncodeError(j_common_ptr c) {
  auto& job = *static_cast<JpegEncodeJob*>(c->client_data);
  (*c->err->format_message)(c, job.message);
  std::longjmp(job.jump, 1);
}

bool Compress(JpegEncodeJob* job, const std::uint8_t* rgba, int width, int height, int quality) {
  job->cinfo.err = jpeg_std_error(&job->err);
  job->err.error_exit = EncodeError;
  job->cinfo.client_data = job;
  if (setjmp(job->jump)) return false;
  jpeg_create_compress(&job->cinfo);
  job->created = true;
  jpeg_mem_dest(&job->cinfo, &job->out, &job->outSize);
  jpeg_compress_struct& c = job->cinfo;
  c.image_width = static_cast<JDIMENSION>(width);
  c.image_height = static_cast<JDIMENSION>(height);
  c.input_components = 4;
  c.in_color_space = JCS_EXT_RGBA;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, quality, TRUE);
  // Smaller files at the same quality, which every viewer reads.
  c.optimize_coding = TRUE;
  jpeg_start_compress(&c, TRUE);
  while (c.next_scanline < c.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(rgba + static_cast<std::size_t>(c.next_scanline) * width * 4);
    jpeg_write_scanlines(&c, &row, 1);
  }
  jpeg_finish_compress(&c);
  return true;
}

}  // namespace

std::vector<std::uint8_t> EncodeJpeg(const std::string& path, const std::vector<std::uint8_t>& rgba, int width,
                                     int height, int quality) {
  if (width <= 0 || height <= 0 || rgba.size() != static_cast<std::size_t>(width) * height * 4)
    throw platform::Error("EncodeJpeg", "the picture's size does not match its pixels", path);
  JpegEncodeJob job;
  if (!Compress(&job, rgba.data(), width, height, quality))
    throw platform::Error("EncodeJpeg", job.message, path);
  return std::vector<std::uint8_t>(job.out, job.out + job.outSize);
}

void WriteJpeg(const std::string& path, const std::vector<std::uint8_t>& rgba, int width, int height,
               int quality) {
  const std::vector<std::uint8_t> jpeg = EncodeJpeg(path, rgba, width, height, quality);
  platform::WriteFileAtomically(path, jpeg.data(), jpeg.size());
}

}  // namespace d3dx

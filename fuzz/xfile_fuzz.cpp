// The X file loader on arbitrary bytes: parsing may fail only with platform::Error, and a model it
// accepts must draw every subset on the device without the device refusing a single call.
#include <cstddef>
#include <cstdint>

#include "fuzz/DrawModel.h"
#include "platform/base/Error.h"
#include "platform/d3dx/XFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  d3dx::XModel model;
  try {
    model = d3dx::ParseXFile(data, size, "fuzz.x");
  } catch (const platform::Error&) {
    return 0;
  }
  fuzz::DrawEverySubset(model);
  return 0;
}

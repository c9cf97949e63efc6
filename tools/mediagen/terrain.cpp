#include "tools/mediagen/mediagen.h"

namespace mediagen {

void WriteTerrain(const std::string& out) { (void)out; }

}  // namespace mediagen

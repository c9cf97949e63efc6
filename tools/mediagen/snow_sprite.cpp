#include "tools/mediagen/mediagen.h"

namespace mediagen {

void WriteSnowSprite(const std::string& out) { (void)out; }

}  // namespace mediagen

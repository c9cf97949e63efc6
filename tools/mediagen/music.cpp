#include "tools/mediagen/mediagen.h"

namespace mediagen {

void WriteMusic(const std::string& out) { (void)out; }

}  // namespace mediagen

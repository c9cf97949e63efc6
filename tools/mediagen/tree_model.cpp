#include "tools/mediagen/mediagen.h"

namespace mediagen {

void WriteTreeModel(const std::string& out) { (void)out; }

}  // namespace mediagen

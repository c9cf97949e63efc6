#include "snow/modSnow.h"

namespace snow {

void modSnow::InitSnow() {}
void modSnow::RenderSnow() {}

}  // namespace snow

#include "music/modMusic.h"

namespace music {

void modMusic::InitMusic(void* hWnd) { (void)hWnd; }
void modMusic::Shutdown() {}

}  // namespace music

#include "components/SkyBox.h"

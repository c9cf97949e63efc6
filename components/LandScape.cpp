#include "components/LandScape.h"

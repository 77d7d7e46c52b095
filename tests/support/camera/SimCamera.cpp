#include "SimCamera.h"

#include "Compose.h"

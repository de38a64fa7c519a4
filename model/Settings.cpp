#include "Settings.h"

// Implemented in the model work.

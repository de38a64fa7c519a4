#include "FieldFile.h"

// Implemented in the model work.

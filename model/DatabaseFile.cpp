#include "DatabaseFile.h"

// Implemented in the model work.

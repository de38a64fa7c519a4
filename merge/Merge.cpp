#include "Merge.h"

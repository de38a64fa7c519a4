#include "Mime.h"

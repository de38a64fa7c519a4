#include "MailFile.h"

// Implemented in the model work.

#include "SmtpDialogue.h"

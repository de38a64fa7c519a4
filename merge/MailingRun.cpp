#include "MailingRun.h"

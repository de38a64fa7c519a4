#include "MailingRun.h"

namespace tandrel {

void RunMailing(MainHooks&, Forms&) {}

} // namespace tandrel

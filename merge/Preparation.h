// Preparation of a mailing run: one complete message per recipient.
#pragma once

#include <functional>
#include <vector>

#include "AppState.h"
#include "Gauge.h"

namespace tandrel {

// Builds st.outgoing from st.mailText (already built by the caller) for the given
// recipients, in order, and sets st.RecipientCount. Each message goes to its own
// entry's e-mail address. The gauge is reported (0..100) whenever its value changes.
// An attachment whose merged path is the same for several recipients is read and
// encoded once and shared by their messages. Throws ComposeError; st.outgoing is then
// left empty and st.RecipientCount 0.
void PrepareAllMails(AppState& st, const std::vector<ReceipData*>& recipients,
                     const GaugeFn& gauge);

} // namespace tandrel

// Preparation of a mailing run: one complete message per recipient.
#pragma once

#include <functional>
#include <vector>

#include "AppState.h"

namespace tandrel {

// Called with the preparation gauge value (0..100) whenever it changes.
using GaugeFn = std::function<void(int)>;

// Builds st.outgoing from st.mailText (already built by the caller) for the given
// recipients, in order, and sets st.RecipientCount. Each message goes to its own
// entry's e-mail address. Throws ComposeError; st.outgoing is then left empty.
void PrepareAllMails(AppState& st, const std::vector<ReceipData*>& recipients,
                     const GaugeFn& gauge);

} // namespace tandrel

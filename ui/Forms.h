// Every window of the program, created once at start-up in this order and reused.
#pragma once

class TForm1;
class TdBaseEntry;
class TaddForm;
class TForm4;
class TsendWin;
class TPrefForm;
class TaboutForm;
class TAttachForm;
class TfileTForm;
class TMailWrapForm;

namespace tandrel {

struct Forms {
    TForm1* main = nullptr;
    TdBaseEntry* dBaseEntry = nullptr;
    TaddForm* addForm = nullptr;
    TForm4* fieldsForm = nullptr;
    TsendWin* sendWin = nullptr;
    TPrefForm* prefForm = nullptr;
    TaboutForm* aboutForm = nullptr;
    TAttachForm* attachForm = nullptr;
    TfileTForm* fileTForm = nullptr;
    TMailWrapForm* mailWrapForm = nullptr;
};

} // namespace tandrel

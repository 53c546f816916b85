#include "cli/status_messages.h"

namespace {

// The native build runs the output code in tests only; Win32 statuses have no texts here.
class CNoStatusMessages : public CStatusMessages {
public:
    void AppendStatusText(long, CTextBuilder*) override {}
};

}  // namespace

CStatusMessages& GetSystemStatusMessages() {
    static CNoStatusMessages messages;
    return messages;
}

#include "cli/elevation.h"

namespace {

// The native build runs only the tests, which bring their own; nothing is ever started here.
class CNoElevation : public CElevation {
public:
    bool IsElevated() override { return false; }

    bool RunElevated(long* pnExitCode, long* pnStatus) override {
        *pnExitCode = 0;
        *pnStatus = 50;  // ERROR_NOT_SUPPORTED
        return false;
    }
};

}  // namespace

CElevation& GetSystemElevation() {
    static CNoElevation elevation;
    return elevation;
}

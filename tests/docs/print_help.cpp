// Prints the console's help text, the one `idrovan-cli --help` prints, so that the docs check can
// hold docs/scripting.md against it without a Windows build.
#include <cstdio>

#include "cli/command_line.h"

int main() {
    return std::fputs(GetHelpText(), stdout) < 0 ? 1 : 0;
}

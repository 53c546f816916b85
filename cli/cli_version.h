/* The console program's version, shared by its resource script and its code; the dialog
   carries the same number. Plain preprocessor lines so that windres can read it too. */
#pragma once

#define IDROVAN_CLI_VERSION_NUMBERS 2, 1, 31, 0
#define IDROVAN_CLI_VERSION_TEXT "2.1.31.0"

#pragma once

// CStatusMessages: the system's own text for a Win32 status, for the console program's
// explanations of a failed step.
//
// GetSystemStatusMessages() is the real one: FormatMessageA on Windows (in US English where the
// system has it, since these texts end up in support tickets), and no texts at all in the native
// build. Tests hand the output code any other implementation. Implementations keep no state;
// safe on any thread.

#include "cli/text_builder.h"

class CStatusMessages {
public:
    virtual ~CStatusMessages() {}

    // Appends the message for nStatus, on one line without a trailing line break or full stop
    // (any bytes; the caller makes them printable); appends nothing when the system has none.
    // Status 0 never has one: with a failed step it means that the system gave no status, and
    // "The operation completed successfully" would mislead.
    virtual void AppendStatusText(long nStatus, CTextBuilder* pText) = 0;
};

CStatusMessages& GetSystemStatusMessages();

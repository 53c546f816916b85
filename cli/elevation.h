#pragma once

// CElevation: what --first-run needs of the system to make the installation marker from a
// console that is not elevated: whether this process runs elevated, and one more run of this
// program, elevated, through the system's consent prompt.
//
// GetSystemElevation() is the real one: the process token's elevation and ShellExecuteExW with
// the verb "runas" on Windows; in the native build never elevated and unable to start anything.
// Tests hand the console program any other implementation. Implementations keep no state; the
// calls block the calling thread (RunElevated until the elevated run has ended).

class CElevation {
public:
    virtual ~CElevation() {}

    // True when this process runs with an elevated (full administrator) token; false when it
    // does not, or the token cannot be asked.
    virtual bool IsElevated() = 0;

    // Runs this program once more, elevated and without arguments (a plain run, which writes a
    // missing marker), and waits for it to end. True with its exit code in *pnExitCode. False
    // when it never ran, with the Win32 status in *pnStatus: ERROR_CANCELLED (1223) when the
    // user declined the prompt.
    virtual bool RunElevated(long* pnExitCode, long* pnStatus) = 0;
};

CElevation& GetSystemElevation();

// The Win32 status of a declined consent prompt.
const long VERROR_CANCELLED = 1223;

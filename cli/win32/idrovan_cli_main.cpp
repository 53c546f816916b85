// idrovan-cli.exe: the console companion of idrovan.exe. Everything but the process itself is in
// RunConsoleProgram; this file turns the command line into arguments and writes the answer out.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <new>

#include "cli/command_line.h"
#include "cli/console_program.h"
#include "cli/id_output.h"
#include "platform/win32/dll_search_win.h"

namespace {

// The command line is taken in UTF-16 (wmain) rather than through the ANSI code page, whose
// best-fit mapping would turn a full-width digit into an ASCII one, and each argument is turned
// into UTF-8: the parser refuses anything but printable ASCII, except in the application's name,
// whose UTF-8 bytes are hashed as the DLL hashes them. The arguments live in one block owned by
// the caller.
char* NarrowArguments(int nCount, wchar_t** ppArguments, const char** ppNarrow) {
    std::size_t nBytes = 0;
    for (int i = 0; i < nCount; ++i)
        nBytes += ArgumentToUtf8(ppArguments[i], nullptr);
    char* pBlock = new (std::nothrow) char[nBytes + 1];
    if (pBlock == nullptr)
        return nullptr;
    char* p = pBlock;
    for (int i = 0; i < nCount; ++i) {
        ppNarrow[i] = p;
        p += ArgumentToUtf8(ppArguments[i], p);
    }
    return pBlock;
}

bool WriteAll(std::FILE* pFile, const CTextBuilder& text) {
    if (text.GetLength() > 0 &&
        std::fwrite(text.GetText(), 1, text.GetLength(), pFile) != text.GetLength())
        return false;
    return std::fflush(pFile) == 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    RestrictDllSearchToSystem32();
    // A report on standard input (--compare -) is read as the bytes it is: in text mode a byte
    // 0x1A, which UTF-16 text may hold, would end it early.
    _setmode(_fileno(stdin), _O_BINARY);
    const int nCount = argc > 1 ? argc - 1 : 0;
    const char** ppNarrow = new (std::nothrow) const char*[nCount + 1];
    char* pBlock = ppNarrow ? NarrowArguments(nCount, argv + 1, ppNarrow) : nullptr;
    int nExitCode = kExitFailure;
    if (pBlock != nullptr) {
        CConsoleOutput output;
        nExitCode = RunConsoleProgram(nCount, ppNarrow, GetDefaultMachineFacts(),
                                      GetSystemStatusMessages(), &output);
        const bool bAnswerWritten = WriteAll(stdout, output.out);
        WriteAll(stderr, output.err);
        // An ID or a verdict that never reached the caller must not look like an answer.
        if (!bAnswerWritten && (nExitCode == kExitSuccess || nExitCode == kExitDifferentID))
            nExitCode = kExitFailure;
    } else {
        std::fputs("idrovan-cli: out of memory\n", stderr);
    }
    delete[] pBlock;
    pBlock = nullptr;
    delete[] ppNarrow;
    ppNarrow = nullptr;
    return nExitCode;
}

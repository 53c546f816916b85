#pragma once

// CReportFile: the file that --compare names, opened so that nothing but a file on a disk is ever
// read. A device or a pipe given by name (COM1, a named pipe, the console) would make the read
// wait for input that never comes; standard input ("-") is read apart from this.
//
// CSystemReportFile is the real one: CreateFile and GetFileType on Windows, open (without
// waiting for a writer) and fstat elsewhere. Tests hand LoadSavedReport any other
// implementation. One object for one report, on one thread; it closes what it opened.

#include <cstddef>
#include <cstdint>

#include "cli/text_builder.h"

class CReportFile {
public:
    virtual ~CReportFile() {}

    // Opens the file pszName to read. False, with the system's reason appended to *pWhy (one
    // line, no line break), when it cannot be opened.
    virtual bool Open(const char* pszName, CTextBuilder* pWhy) = 0;
    // What Open opened is a file on a disk: not a device, a pipe or a console.
    virtual bool IsDiskFile() = 0;
    // Reads up to nSize bytes into pBuffer; *pnRead is 0 at the end. False on a read error.
    virtual bool Read(char* pBuffer, std::size_t nSize, std::size_t* pnRead) = 0;
    // Closes what Open opened; nothing when nothing is open.
    virtual void Close() = 0;
};

class CSystemReportFile : public CReportFile {
public:
    CSystemReportFile() {}
    ~CSystemReportFile() override { Close(); }
    CSystemReportFile(const CSystemReportFile&) = delete;
    CSystemReportFile& operator=(const CSystemReportFile&) = delete;

    bool Open(const char* pszName, CTextBuilder* pWhy) override;
    bool IsDiskFile() override;
    bool Read(char* pBuffer, std::size_t nSize, std::size_t* pnRead) override;
    void Close() override;

private:
    // A HANDLE on Windows, a file descriptor elsewhere; -1 (INVALID_HANDLE_VALUE) when closed.
    std::intptr_t m_nFile = -1;
};

// True for a name that Windows takes for a device wherever it stands: the device namespaces
// (\\.\ and \\?\, with either slash) and, as the last part of a path, the reserved names CON,
// PRN, AUX, NUL, COM0 to COM9, LPT0 to LPT9, CONIN$ and CONOUT$ in any case, with any
// extension, trailing spaces or colon ("nul.json", "C:\x\COM1:"). Such a name is refused before
// anything is opened. ASCII only, as the command line is.
bool IsDeviceName(const char* pszName);

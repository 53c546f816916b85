// End-to-end tests of idrovan-cli.exe, run by run_cli_e2e.sh inside Wine prefixes whose machine
// facts the script chose. The driver starts the console program as a script would, with a
// UTF-16 command line of its own making, and reads its exit code, stdout and stderr.
//
// Suites, each run by the script in the prefix it needs:
//   CliNoMarker     a fresh prefix: read-only modes and a renewal of an ID exit 4, hostile
//                   command lines exit 2, and none creates the marker key.
//   CliLockHeld     the same prefix: while this driver holds the marker lock, a first run waits
//                   for it, gives up after 10 s with exit 6, and writes nothing.
//   CliFirstRun     the same prefix: the plain run writes the marker and prints an ID; marker
//                   and ID are recorded for the script, which derives the expected ID on its own.
//   CliWithId       afterwards, with IDROVAN_EXPECTED_ID: every mode agrees with it.
//   CliPerUserKey   then: a key of the user's own under HKCU\Software\Classes changes no ID
//                   and --explain names it as ignored.
//   CliLooseKey     then: the key the first run made has the program's own owner and DACL;
//                   keys that other accounts may write (Everyone, Users) or that another account
//                   owns are reported loose by --json, --explain and the DLL's detail, and keep
//                   their ID; the program's own security is put back at the end.
//   CliNoRights     then: the key grants reading only (the marker stays): every mode reads the
//                   marker with read access and gives the ID, at once also while the lock is held
//                   or squatted.
//   CliFirstRunCommand  a fresh prefix: --first-run from a console that is not elevated makes
//                   the marker through an elevated run and prints the ID that --no-write gives;
//                   run again, it writes nothing. The record holds marker and ID.
//   CliAfterDialog  a prefix where the dialog ran first (its record): the console agrees.
//   CliNewMarker    then: --new-marker changes nothing for a wrong ID or none, renews for the
//                   right one; a stored value of 261 bytes gives no ID in any mode (a renewal
//                   of an ID exits 6) until --new-marker none replaces it; a read-only key changes
//                   nothing. The record then holds the last new marker and ID, for the script to
//                   derive again.
//   CliInstalled    a prefix where the MSI was installed (tests/package, with IDROVAN_CLI_EXE the
//                   installed program and IDROVAN_EXPECTED_ID the ID the installed dialog showed):
//                   the package made the marker; with the key read-only, the plain run and
//                   --no-write give the ID.
//
// Environment: IDROVAN_CLI_EXE, IDROVAN_E2E_RECORD (marker and ID, one per line),
// IDROVAN_EXPECTED_ID, IDROVAN_DLL (idrovan.dll, for CliLooseKey).
#include <windows.h>

#include <gtest/gtest.h>

#include <sddl.h>

#include <fstream>
#include <string>
#include <thread>

#include "include/idrovan.h"
#include "tests/e2e/marker_key_security.h"
#include "tests/e2e/read_only_marker_key.h"
#include "idrovan_version.h"

namespace {

const DWORD kPatienceMs = 60000;
const char kNoMarkerLine[] =
    "idrovan-cli: there is no installation marker yet, and a read-only run does not write one; "
    "an administrator must run idrovan-cli once to make it: idrovan-cli --first-run from any "
    "console asks for elevation\r\n";
const char kVerifyNoMarkerLine[] =
    "idrovan-cli: there is no installation marker yet, and comparing does not write one; an "
    "administrator must run idrovan-cli once to make it: idrovan-cli --first-run from any "
    "console asks for elevation\r\n";
// The name every writer of the marker waits for.
const char kMarkerLockName[] = "Global\\Veltrane.Idrovan.InstallationMarker";

std::string Env(const char* pName) {
    char value[4096] = {0};
    DWORD nLength = GetEnvironmentVariableA(pName, value, sizeof(value));
    return nLength > 0 && nLength < sizeof(value) ? std::string(value) : std::string();
}

std::wstring Widen(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

bool IsLowerHexId(const std::string& text) {
    if (text.size() != 32)
        return false;
    for (char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    }
    return true;
}

std::string Upper(std::string text) {
    for (char& c : text)
        c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    return text;
}

// One finished run of the console program.
struct ConsoleRun {
    DWORD nExitCode = STILL_ACTIVE;
    std::string out;
    std::string err;
};

// Reads a pipe to its end on a thread of its own, so that neither pipe can fill and stall the
// program while the other is read.
class CPipeReader {
public:
    explicit CPipeReader(HANDLE hRead) : m_hRead(hRead), m_thread([this] { ReadAll(); }) {}
    ~CPipeReader() {
        if (m_thread.joinable())
            m_thread.join();
        CloseHandle(m_hRead);
        m_hRead = nullptr;
    }
    CPipeReader(const CPipeReader&) = delete;
    CPipeReader& operator=(const CPipeReader&) = delete;

    std::string Finish() {
        m_thread.join();
        return m_text;
    }

private:
    void ReadAll() {
        char buffer[4096];
        DWORD nRead = 0;
        while (ReadFile(m_hRead, buffer, sizeof(buffer), &nRead, nullptr) && nRead > 0)
            m_text.append(buffer, nRead);
    }

    HANDLE m_hRead;
    std::string m_text;
    std::thread m_thread;
};

// Runs idrovan-cli.exe with the arguments as written on a command line (quoted by the caller);
// with hToken, as that token's process (CreateProcessAsUserW) rather than as this one.
ConsoleRun RunConsole(const std::wstring& arguments, HANDLE hToken = nullptr) {
    ConsoleRun run;
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE hOutRead = nullptr, hOutWrite = nullptr, hErrRead = nullptr, hErrWrite = nullptr;
    if (!CreatePipe(&hOutRead, &hOutWrite, &inherit, 0) ||
        !CreatePipe(&hErrRead, &hErrWrite, &inherit, 0)) {
        ADD_FAILURE() << "no pipes";
        return run;
    }
    SetHandleInformation(hOutRead, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(hErrRead, HANDLE_FLAG_INHERIT, 0);

    const std::wstring exe = Widen(Env("IDROVAN_CLI_EXE"));
    std::wstring commandLine = L"\"" + exe + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = hOutWrite;
    startup.hStdError = hErrWrite;
    PROCESS_INFORMATION info{};
    const BOOL bStarted =
        hToken != nullptr
            ? CreateProcessAsUserW(hToken, exe.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0,
                                   nullptr, nullptr, &startup, &info)
            : CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr,
                             nullptr, &startup, &info);
    CloseHandle(hOutWrite);
    CloseHandle(hErrWrite);
    CPipeReader outReader(hOutRead);
    CPipeReader errReader(hErrRead);
    if (!bStarted) {
        ADD_FAILURE() << "idrovan-cli.exe did not start: " << GetLastError();
        return run;
    }
    CloseHandle(info.hThread);
    if (WaitForSingleObject(info.hProcess, kPatienceMs) == WAIT_OBJECT_0) {
        GetExitCodeProcess(info.hProcess, &run.nExitCode);
    } else {
        TerminateProcess(info.hProcess, 99);
        ADD_FAILURE() << "idrovan-cli.exe did not end";
    }
    CloseHandle(info.hProcess);
    run.out = outReader.Finish();
    run.err = errReader.Finish();
    return run;
}

struct Marker {
    LONG nOpenStatus = ERROR_FILE_NOT_FOUND;
    DWORD nType = REG_NONE;  // as RegQueryValueExA reports them
    DWORD nSize = 0;
    std::string data;  // the stored bytes, without the one terminator the registry may add
};

Marker ReadMarker() {
    Marker marker;
    HKEY hKey = nullptr;
    marker.nOpenStatus = RegOpenKeyExA(HKEY_CLASSES_ROOT, "lrgDocID", 0, KEY_READ, &hKey);
    if (marker.nOpenStatus != ERROR_SUCCESS)
        return marker;
    char buffer[512] = {0};
    marker.nSize = sizeof(buffer);
    if (RegQueryValueExA(hKey, "Rndund", nullptr, &marker.nType, reinterpret_cast<BYTE*>(buffer),
                         &marker.nSize) == ERROR_SUCCESS)
        marker.data.assign(buffer, marker.nSize);
    else
        marker.nSize = 0;
    // Wine stores 33 bytes for the 32 written: RegSetValueExA counts the NUL behind them.
    if (!marker.data.empty() && marker.data.back() == '\0')
        marker.data.pop_back();
    RegCloseKey(hKey);
    return marker;
}

struct Record {
    std::string marker;
    std::string id;
};

Record ReadRecord() {
    Record record;
    std::ifstream in(Env("IDROVAN_E2E_RECORD"), std::ios::binary);
    in >> record.marker >> record.id;
    return record;
}

std::string ExpectedId() {
    const std::string id = Env("IDROVAN_EXPECTED_ID");
    EXPECT_TRUE(IsLowerHexId(id)) << "the script gave no expected ID";
    return id;
}

// A refused command line: exit 2, nothing on stdout, the message and the usage on stderr.
void ExpectUsageError(const ConsoleRun& run, const std::string& message) {
    EXPECT_EQ(run.nExitCode, 2u);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err.rfind("idrovan-cli: " + message + "\r\nusage: idrovan-cli ", 0), 0u)
        << run.err;
}

}  // namespace

TEST(CliNoMarker, ReadOnlyModesExit4AndWriteNothing) {
    ASSERT_EQ(ReadMarker().nOpenStatus, ERROR_FILE_NOT_FOUND) << "the prefix is not fresh";

    const struct {
        const wchar_t* pArguments;
        const char* line;
    } readOnly[] = {
        {L"--no-write", kNoMarkerLine},
        {L"--verify 0123456789abcdef0123456789ABCDEF", kVerifyNoMarkerLine},
        {L"--NO-WRITE", kNoMarkerLine},
    };
    for (const auto& c : readOnly) {
        SCOPED_TRACE(std::string(c.pArguments, c.pArguments + wcslen(c.pArguments)));
        const ConsoleRun run = RunConsole(c.pArguments);
        EXPECT_EQ(run.nExitCode, 4u);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, c.line);
    }
    // A diagnosis reads only, with or without --no-write: it must not make the marker whose
    // absence it explains.
    for (const wchar_t* pArguments : {L"--explain --no-write", L"--explain"}) {
        const ConsoleRun explain = RunConsole(pArguments);
        EXPECT_EQ(explain.nExitCode, 4u);
        EXPECT_NE(explain.out.find("\r\nMarker:       missing\r\nID:           none\r\n"
                                   "Failed step:  marker_key: "),
                  std::string::npos)
            << explain.out;
        EXPECT_NE(explain.out.find("Status:       status 2: "), std::string::npos) << explain.out;
    }

    EXPECT_EQ(ReadMarker().nOpenStatus, ERROR_FILE_NOT_FOUND) << "a read-only run made the key";
}

// A renewal for an ID finds none to compare with: the derivation's own exit 4, never the 1 of "not
// the current ID" that a start-up script reads as renewed already; nothing is written.
TEST(CliNoMarker, RenewalOfAnIdExits4AndWritesNothing) {
    const ConsoleRun plain = RunConsole(L"--new-marker 0123456789abcdef0123456789abcdef");
    EXPECT_EQ(plain.nExitCode, 4u);
    EXPECT_EQ(plain.out, "");
    EXPECT_EQ(plain.err,
              "idrovan-cli: this computer has no ID to renew: there is no installation marker "
              "yet; idrovan-cli --new-marker none makes one. The marker was not changed.\r\n");
    const ConsoleRun json = RunConsole(L"--new-marker 0123456789abcdef0123456789abcdef --json");
    EXPECT_EQ(json.nExitCode, 4u);
    EXPECT_EQ(json.err, "");
    EXPECT_NE(json.out.find("\"renewed\":false,\"marker\":\"missing\""), std::string::npos)
        << json.out;
    EXPECT_NE(json.out.find("\"error\":{\"step\":\"marker_key\",\"code\":2,"), std::string::npos)
        << json.out;
    EXPECT_EQ(ReadMarker().nOpenStatus, ERROR_FILE_NOT_FOUND) << "a refused renewal made the key";
}

TEST(CliNoMarker, HostileCommandLinesExit2AndWriteNothing) {
    // An ID whose seventh digit is a full-width one: through the ANSI code page it would arrive
    // as a plain '6' (best fit) and pass; it must be refused.
    const std::wstring wideDigitId = L"0123456789abcdef0123456789abcdef";
    std::wstring fullWidth = wideDigitId;
    fullWidth[6] = 0xFF16;  // FULLWIDTH DIGIT SIX
    const struct {
        std::wstring arguments;
        const char* message;
    } cases[] = {
        {std::wstring(30000, L'x'),
         "unknown argument 'xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx...' (30000 characters)"},
        {L"\"\"", "argument 1 is empty"},
        {L"--json \"\"", "argument 2 is empty"},
        {L"--verify " + fullWidth, "argument 2 holds a character that is not printable ASCII"},
        {L"--js\x00F6n", "argument 1 holds a character that is not printable ASCII"},
        {L"--verify \x0418\x0414", "argument 2 holds a character that is not printable ASCII"},
        {L"--verify", "--verify needs the ID to compare with"},
        {L"--verify 0123", "--verify needs an ID of 32 hexadecimal digits, not '0123'"},
        {L"--json --explain", "--json and --explain exclude each other"},
        {L"--help --no-write", "--help goes with no other argument"},
        {L"*", "unknown argument '*'"},
        // A report's name in any other characters goes through standard input instead.
        {L"--compare r\x00E9port.json",
         "argument 2 holds a character that is not printable ASCII; use --compare - < REPORT"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        ExpectUsageError(RunConsole(c.arguments), c.message);
    }
    EXPECT_EQ(ReadMarker().nOpenStatus, ERROR_FILE_NOT_FOUND) << "a refused command line wrote";
}

// Another first run holds the lock (this driver, a process of its own, with the lock's own
// administrators-only DACL; any other would be refused as a squat): the console's first run
// waits for it, gives up after 10 s and writes nothing.
TEST(CliLockHeld, FirstRunWaitsForTheLockThenWritesNothing) {
    ASSERT_EQ(ReadMarker().nOpenStatus, ERROR_FILE_NOT_FOUND) << "the prefix is not fresh";
    PSECURITY_DESCRIPTOR pDescriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(
        "D:P(A;;GA;;;SY)(A;;GA;;;BA)", SDDL_REVISION_1, &pDescriptor, nullptr));
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), pDescriptor, FALSE};
    HANDLE hLock = CreateMutexA(&attributes, TRUE, kMarkerLockName);
    LocalFree(pDescriptor);
    ASSERT_NE(hLock, nullptr) << GetLastError();
    ASSERT_NE(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS)) << "someone holds the lock";

    const DWORD nStart = GetTickCount();
    const ConsoleRun run = RunConsole(L"--json");
    const DWORD nWaited = GetTickCount() - nStart;
    ReleaseMutex(hLock);
    CloseHandle(hLock);

    EXPECT_EQ(run.nExitCode, 6u);
    EXPECT_NE(run.out.find("\"error\":{\"step\":\"marker_lock\",\"code\":258,"), std::string::npos)
        << run.out;
    EXPECT_GE(nWaited, 9000u) << "it did not wait for the lock";
    EXPECT_EQ(ReadMarker().nOpenStatus, ERROR_FILE_NOT_FOUND) << "a marker was written";
}

TEST(CliFirstRun, WritesTheMarkerOnceAndPrintsAnId) {
    ASSERT_EQ(ReadMarker().nOpenStatus, ERROR_FILE_NOT_FOUND) << "the prefix is not fresh";
    const ConsoleRun run = RunConsole(L"");
    EXPECT_EQ(run.nExitCode, 0u);
    EXPECT_EQ(run.err, "");
    ASSERT_EQ(run.out.size(), 34u) << run.out;
    EXPECT_EQ(run.out.substr(32), "\r\n");
    const std::string id = run.out.substr(0, 32);
    EXPECT_TRUE(IsLowerHexId(id)) << id;

    const Marker marker = ReadMarker();
    EXPECT_TRUE(IsLowerHexId(marker.data)) << marker.data;
    EXPECT_EQ(run.out.find(marker.data), std::string::npos) << "the marker was printed";

    std::ofstream record(Env("IDROVAN_E2E_RECORD"), std::ios::binary);
    record << marker.data << "\n" << id << "\n";
}

// Whether a token is elevated; false also when it cannot be asked.
bool IsElevatedToken(HANDLE hToken) {
    TOKEN_ELEVATION elevation{};
    DWORD nSize = 0;
    return GetTokenInformation(hToken, TokenElevation, &elevation, sizeof(elevation), &nSize) &&
           elevation.TokenIsElevated != 0;
}

// The filtered token that UAC pairs with this process's elevated one: the token of a console
// that is not elevated. Null when the system has none.
HANDLE GetNotElevatedToken() {
    HANDLE hOwn = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &hOwn))
        return nullptr;
    TOKEN_LINKED_TOKEN linked{};
    DWORD nSize = 0;
    const BOOL bLinked =
        GetTokenInformation(hOwn, TokenLinkedToken, &linked, sizeof(linked), &nSize);
    CloseHandle(hOwn);
    if (!bLinked)
        return nullptr;
    if (IsElevatedToken(linked.LinkedToken)) {
        CloseHandle(linked.LinkedToken);
        return nullptr;
    }
    return linked.LinkedToken;
}

// --first-run from a console that is not elevated: it asks the system for an elevated run of the
// program (ShellExecuteExW, "runas"; Wine starts it elevated without a prompt), which writes the
// marker; the first console prints the ID that --no-write then gives too. A second --first-run
// finds the marker and writes nothing. The record holds marker and ID for the script.
TEST(CliFirstRunCommand, MakesTheMarkerFromAConsoleThatIsNotElevated) {
    ASSERT_EQ(ReadMarker().nOpenStatus, ERROR_FILE_NOT_FOUND) << "the prefix is not fresh";
    HANDLE hOwn = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &hOwn));
    const bool bDriverElevated = IsElevatedToken(hOwn);
    CloseHandle(hOwn);
    ASSERT_TRUE(bDriverElevated) << "the driver is expected to run elevated, as Wine starts it";
    HANDLE hNotElevated = GetNotElevatedToken();
    ASSERT_NE(hNotElevated, nullptr) << "no filtered token to start a console that is not elevated";

    // (Wine does not refuse a filtered token the key or the lock, as Windows does: a plain run
    // here would write the marker itself, so the elevated path is shown by what it prints.)
    const ConsoleRun first = RunConsole(L"--first-run", hNotElevated);
    EXPECT_EQ(first.nExitCode, 0u) << first.err;
    EXPECT_EQ(first.err,
              "idrovan-cli: the run as administrator stored the installation marker\r\n");
    ASSERT_EQ(first.out.size(), 34u) << first.out;
    const std::string id = first.out.substr(0, 32);
    EXPECT_TRUE(IsLowerHexId(id)) << id;
    const Marker marker = ReadMarker();
    ASSERT_TRUE(IsLowerHexId(marker.data)) << marker.data;

    const ConsoleRun readOnly = RunConsole(L"--no-write", hNotElevated);
    EXPECT_EQ(readOnly.nExitCode, 0u) << readOnly.err;
    EXPECT_EQ(readOnly.out, id + "\r\n");

    const ConsoleRun again = RunConsole(L"--FIRST-RUN", hNotElevated);
    EXPECT_EQ(again.nExitCode, 0u) << again.err;
    EXPECT_EQ(again.out, id + "\r\n");
    EXPECT_EQ(again.err,
              "idrovan-cli: the installation marker is stored already; nothing was written\r\n");
    EXPECT_EQ(ReadMarker().data, marker.data) << "the marker was written over";
    CloseHandle(hNotElevated);

    std::ofstream record(Env("IDROVAN_E2E_RECORD"), std::ios::binary);
    record << marker.data << "\n" << id << "\n";
}

TEST(CliWithId, EveryModeAgreesWithTheDerivedId) {
    const std::string expected = ExpectedId();
    const Record record = ReadRecord();
    EXPECT_EQ(record.id, expected) << "the first run printed another ID";

    for (const wchar_t* pArguments : {L"", L"--no-write", L"--No-Write"}) {
        const ConsoleRun run = RunConsole(pArguments);
        EXPECT_EQ(run.nExitCode, 0u);
        EXPECT_EQ(run.out, expected + "\r\n");
        EXPECT_EQ(run.err, "");
    }
    const struct {
        std::string id;
        DWORD nExitCode;
        const char* line;
    } verifies[] = {
        {expected, 0, "The ID matches this computer's ID.\r\n"},
        {Upper(expected), 0, "The ID matches this computer's ID.\r\n"},
        {expected.substr(0, 31) + (expected[31] == '0' ? "1" : "0"), 1,
         "The ID differs from this computer's ID.\r\n"},
    };
    for (const auto& verify : verifies) {
        SCOPED_TRACE(verify.id);
        const ConsoleRun run = RunConsole(L"--VERIFY " + Widen(verify.id));
        EXPECT_EQ(run.nExitCode, verify.nExitCode);
        EXPECT_EQ(run.out, verify.line);
        EXPECT_EQ(run.err, "");
    }
    const ConsoleRun explain = RunConsole(L"--explain");
    EXPECT_EQ(explain.nExitCode, 0u);
    EXPECT_EQ(explain.out,
              // The fingerprints of the prefix's facts, from Python's hmac (the formula is in
              // identification/fact_fingerprint.h), never the facts themselves.
              "Root created: fingerprint 1f1\r\n"
              "Volume:       fingerprint 21f\r\n"
              "Marker:       present\r\n"
              "ID:           " +
                  expected + "\r\n");
    EXPECT_EQ(ReadMarker().data, record.marker) << "the marker was rewritten";
}

TEST(CliWithId, VersionResourceAndConsoleSubsystem) {
    const std::string exePath = Env("IDROVAN_CLI_EXE");
    DWORD nHandle = 0;
    const DWORD nInfoSize = GetFileVersionInfoSizeA(exePath.c_str(), &nHandle);
    ASSERT_GT(nInfoSize, 0u);
    std::string info(nInfoSize, '\0');
    ASSERT_TRUE(GetFileVersionInfoA(exePath.c_str(), 0, nInfoSize, &info[0]));
    VS_FIXEDFILEINFO* pFixed = nullptr;
    UINT nLength = 0;
    ASSERT_TRUE(VerQueryValueA(&info[0], "\\", reinterpret_cast<void**>(&pFixed), &nLength));
    // The version the build takes from the file VERSION, and LICENSE's holder and licence.
    constexpr WORD kVersion[] = {IDROVAN_VERSION_NUMBERS};
    EXPECT_EQ(pFixed->dwFileVersionMS, static_cast<DWORD>(MAKELONG(kVersion[1], kVersion[0])));
    EXPECT_EQ(pFixed->dwFileVersionLS, static_cast<DWORD>(MAKELONG(kVersion[3], kVersion[2])));
    EXPECT_EQ(pFixed->dwProductVersionMS, static_cast<DWORD>(MAKELONG(kVersion[1], kVersion[0])));
    EXPECT_EQ(pFixed->dwProductVersionLS, static_cast<DWORD>(MAKELONG(kVersion[3], kVersion[2])));
    char* pCopyright = nullptr;
    ASSERT_TRUE(VerQueryValueA(&info[0], "\\StringFileInfo\\040904e4\\LegalCopyright",
                               reinterpret_cast<void**>(&pCopyright), &nLength));
    EXPECT_STREQ(pCopyright, "Copyright (c) 2026 The Idrovan authors. MIT License.");

    HMODULE hExe = LoadLibraryExA(exePath.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(hExe, nullptr);
    HRSRC hManifest = FindResourceA(hExe, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
    ASSERT_NE(hManifest, nullptr);
    const char* pManifest = static_cast<const char*>(LockResource(LoadResource(hExe, hManifest)));
    const std::string manifest(pManifest, SizeofResource(hExe, hManifest));
    EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string::npos) << manifest;
    FreeLibrary(hExe);

    const ConsoleRun version = RunConsole(L"--version");
    EXPECT_EQ(version.nExitCode, 0u);
    EXPECT_EQ(version.out, IDROVAN_VERSION_TEXT "\r\n");
}

// The key as the first run made it, then as other software or a mistake could leave it: the
// console and the DLL report a key that other accounts may change, and its marker keeps its ID.
TEST(CliLooseKey, ReportedByJsonExplainAndTheDllDetail) {
    const std::string expected = ExpectedId();
    EXPECT_EQ(ReadMarkerKeySecurity(), kCreatedMarkerKeySecurity);
    HMODULE hDll = LoadLibraryW(Widen(Env("IDROVAN_DLL")).c_str());
    ASSERT_NE(hDll, nullptr) << GetLastError();
    typedef int(IDROVAN_CALL * GetIdFn)(unsigned int, char*, unsigned int, unsigned int*,
                                        idrovan_detail*);
    const GetIdFn pGetId = reinterpret_cast<GetIdFn>(
        reinterpret_cast<void*>(GetProcAddress(hDll, "idrovan_get_computer_id")));
    ASSERT_NE(pGetId, nullptr);

    const struct {
        const char* pszWhat;
        const char* pszSddl;
        bool bLoose;
    } cases[] = {
        {"as made", kCreatedMarkerKeySecurity, false},
        {"Everyone may write", "D:(A;;KA;;;SY)(A;;KA;;;BA)(A;;KW;;;WD)", true},
        {"Users may write", "D:(A;;KA;;;SY)(A;;KA;;;BA)(A;;KA;;;BU)", true},
        {"owned by an account",
         "O:S-1-5-21-1004336348-1177238915-682003330-1001D:(A;;KA;;;SY)(A;;KA;;;BA)", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        ASSERT_TRUE(SetMarkerKeySecurity(c.pszSddl));
        const ConsoleRun json = RunConsole(L"--json");
        EXPECT_EQ(json.nExitCode, 0u);
        EXPECT_NE(
            json.out.find(c.bLoose ? "\"marker_key\":\"loose\"" : "\"marker_key\":\"trusted\""),
            std::string::npos)
            << json.out;
        EXPECT_NE(json.out.find("\"id\":\"" + expected + "\""), std::string::npos) << json.out;
        const ConsoleRun explain = RunConsole(L"--explain");
        EXPECT_EQ(explain.nExitCode, 0u);
        EXPECT_EQ(explain.out.find("Marker key:   loose: ") != std::string::npos, c.bLoose)
            << explain.out;

        char szID[IDROVAN_ID_SIZE] = {};
        idrovan_detail detail = {};
        detail.size = sizeof(detail);
        EXPECT_EQ(pGetId(0, szID, sizeof(szID), nullptr, &detail), IDROVAN_OK);
        EXPECT_EQ(std::string(szID), expected);
        EXPECT_EQ(detail.marker_key,
                  c.bLoose ? IDROVAN_MARKER_KEY_LOOSE : IDROVAN_MARKER_KEY_TRUSTED);
    }
    FreeLibrary(hDll);
    EXPECT_TRUE(SetMarkerKeySecurity(kCreatedMarkerKeySecurity));
}

// A standard user's view of the key: reading only. Every mode reads the stored marker with read
// access and gives the ID; none asks for the lock, so neither a holder nor a squatter delays it.
TEST(CliNoRights, EveryModeReadsTheStoredMarkerWithReadAccess) {
    const std::string expected = ExpectedId();
    const Record record = ReadRecord();
    ASSERT_EQ(ReadMarker().data, record.marker);

    ASSERT_TRUE(MakeMarkerKeyReadOnly());

    {
        HANDLE hHeld = CreateMutexA(nullptr, TRUE, kMarkerLockName);
        ASSERT_NE(hHeld, nullptr) << GetLastError();
        const ConsoleRun held = RunConsole(L"--json");
        ReleaseMutex(hHeld);
        CloseHandle(hHeld);
        HANDLE hSquatter = CreateEventA(nullptr, TRUE, FALSE, kMarkerLockName);
        ASSERT_NE(hSquatter, nullptr) << GetLastError();
        const ConsoleRun squatted = RunConsole(L"--json");
        CloseHandle(hSquatter);
        for (const ConsoleRun* pRun : {&held, &squatted}) {
            EXPECT_EQ(pRun->nExitCode, 0u);
            EXPECT_NE(pRun->out.find("\"id\":\"" + expected + "\""), std::string::npos)
                << pRun->out;
        }
    }

    for (const wchar_t* pArguments : {L"", L"--no-write"}) {
        const ConsoleRun run = RunConsole(pArguments);
        EXPECT_EQ(run.nExitCode, 0u);
        EXPECT_EQ(run.out, expected + "\r\n");
        EXPECT_EQ(run.err, "");
    }

    // --explain reads only, like --no-write, and so gives the ID here.
    const ConsoleRun explain = RunConsole(L"--explain");
    EXPECT_EQ(explain.nExitCode, 0u);
    EXPECT_NE(explain.out.find("ID:           " + expected + "\r\n"), std::string::npos)
        << explain.out;

    const ConsoleRun verify = RunConsole(L"--verify " + Widen(Upper(expected)));
    EXPECT_EQ(verify.nExitCode, 0u);
    EXPECT_EQ(verify.out, "The ID matches this computer's ID.\r\n");

    EXPECT_EQ(ReadMarker().data, record.marker) << "the marker changed";
}

// A key of the user's own, HKEY_CURRENT_USER\Software\Classes\lrgDocID, which Windows' merged
// HKEY_CLASSES_ROOT would show in place of the machine's (Wine does not merge them): it gives no
// ID of its own, is never written, and --explain says that it is there and ignored.
TEST(CliPerUserKey, IsIgnoredAndNamedByExplain) {
    const std::string expected = ExpectedId();
    const Record record = ReadRecord();
    const char kUserKey[] = "Software\\Classes\\lrgDocID";
    const std::string userMarker = "00112233445566778899aabbccddeeff";
    HKEY hKey = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kUserKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &hKey, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(
        RegSetValueExA(hKey, "Rndund", 0, REG_SZ, reinterpret_cast<const BYTE*>(userMarker.data()),
                       static_cast<DWORD>(userMarker.size())),
        ERROR_SUCCESS);
    RegCloseKey(hKey);
    hKey = nullptr;

    for (const wchar_t* pArguments : {L"", L"--no-write"}) {
        const ConsoleRun run = RunConsole(pArguments);
        EXPECT_EQ(run.nExitCode, 0u);
        EXPECT_EQ(run.out, expected + "\r\n");
    }
    const ConsoleRun explain = RunConsole(L"--explain");
    EXPECT_EQ(explain.nExitCode, 0u);
    EXPECT_NE(explain.out.find("Marker:       present\r\nPer-user key: "
                               "HKEY_CURRENT_USER\\Software\\Classes\\lrgDocID exists and is "
                               "ignored\r\nID:           " +
                               expected + "\r\n"),
              std::string::npos)
        << explain.out;
    EXPECT_EQ(explain.out.find(userMarker), std::string::npos) << explain.out;

    char value[64] = {0};
    DWORD nSize = sizeof(value);
    EXPECT_EQ(
        RegGetValueA(HKEY_CURRENT_USER, kUserKey, "Rndund", RRF_RT_REG_SZ, nullptr, value, &nSize),
        ERROR_SUCCESS);
    EXPECT_EQ(std::string(value), userMarker) << "the per-user key was written";
    EXPECT_EQ(ReadMarker().data, record.marker) << "the machine's marker changed";
    EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, kUserKey), ERROR_SUCCESS);
}

TEST(CliAfterDialog, PrintsTheIdTheDialogShowed) {
    const std::string expected = ExpectedId();
    const Record record = ReadRecord();
    EXPECT_EQ(record.id, expected) << "the dialog showed another ID";

    const ConsoleRun plain = RunConsole(L"");
    EXPECT_EQ(plain.nExitCode, 0u);
    EXPECT_EQ(plain.out, record.id + "\r\n");
    const ConsoleRun verify = RunConsole(L"--verify " + Widen(record.id));
    EXPECT_EQ(verify.nExitCode, 0u);
    EXPECT_EQ(ReadMarker().data, record.marker) << "the marker was rewritten";
}

TEST(CliInstalled, ThePackageMadeTheMarker) {
    const Marker marker = ReadMarker();
    ASSERT_EQ(marker.nOpenStatus, ERROR_SUCCESS) << "no marker key after installing";
    EXPECT_EQ(marker.nType, static_cast<DWORD>(REG_SZ));
    // 32 bytes as written; Wine counts the NUL that follows them in the writer's buffer.
    EXPECT_TRUE(marker.nSize == 32 || marker.nSize == 33) << marker.nSize;
    EXPECT_TRUE(IsLowerHexId(marker.data)) << marker.data;
}

TEST(CliInstalled, ReadOnlyKeyNoWriteGivesTheDialogsId) {
    const std::string expected = ExpectedId();
    const std::string before = ReadMarker().data;
    ASSERT_TRUE(MakeMarkerKeyReadOnly());
    // The plain run (what the package's own run meets when it installs now) reads the marker
    // with read access, as --no-write does.
    for (const wchar_t* pArguments : {L"", L"--no-write"}) {
        const ConsoleRun run = RunConsole(pArguments);
        EXPECT_EQ(run.nExitCode, 0u);
        EXPECT_EQ(run.out, expected + "\r\n");
        EXPECT_EQ(run.err, "");
    }
    EXPECT_EQ(ReadMarker().data, before) << "the marker changed";
}

namespace {

void WriteMarkerValue(const std::string& value) {
    HKEY hKey = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, "lrgDocID", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &hKey, nullptr),
              ERROR_SUCCESS);
    const LONG nStatus =
        RegSetValueExA(hKey, "Rndund", 0, REG_SZ, reinterpret_cast<const BYTE*>(value.data()),
                       static_cast<DWORD>(value.size()));
    RegCloseKey(hKey);
    ASSERT_EQ(nStatus, ERROR_SUCCESS);
}

// The value of "name":"..." in a JSON line; empty when absent or null.
std::string JsonText(const std::string& json, const std::string& name) {
    const std::string key = "\"" + name + "\":\"";
    const std::size_t nStart = json.find(key);
    if (nStart == std::string::npos)
        return std::string();
    const std::size_t nEnd = json.find('"', nStart + key.size());
    return json.substr(nStart + key.size(), nEnd - nStart - key.size());
}

}  // namespace

TEST(CliNewMarker, RenewsOnlyTheGivenIdAndReplacesAValueTooLongToUse) {
    const Record record = ReadRecord();
    ASSERT_TRUE(IsLowerHexId(record.id));
    ASSERT_EQ(ReadMarker().data, record.marker);
    const std::string otherId = record.id.substr(0, 31) + (record.id[31] == '0' ? "1" : "0");

    // A wrong ID, and none while a marker is stored: nothing changes.
    const ConsoleRun wrong = RunConsole(L"--new-marker " + Widen(otherId));
    EXPECT_EQ(wrong.nExitCode, 1u);
    EXPECT_EQ(wrong.out, "This computer's ID is " + record.id +
                             ", not the one given; the marker was not changed.\r\n");
    EXPECT_EQ(RunConsole(L"--NEW-MARKER none").nExitCode, 1u);
    EXPECT_EQ(ReadMarker().data, record.marker) << "a refused renewal changed the marker";

    // The right ID, in either case: a new 32-digit marker and a new ID, printed before and after.
    const ConsoleRun renew = RunConsole(L"--new-marker " + Widen(Upper(record.id)));
    EXPECT_EQ(renew.nExitCode, 0u);
    EXPECT_EQ(renew.err, "");
    ASSERT_EQ(renew.out.rfind("Old ID: " + record.id + "\r\nNew ID: ", 0), 0u) << renew.out;
    const std::string renewedId = renew.out.substr(renew.out.size() - 34, 32);
    EXPECT_TRUE(IsLowerHexId(renewedId)) << renew.out;
    EXPECT_NE(renewedId, record.id);
    const std::string renewedMarker = ReadMarker().data;
    EXPECT_TRUE(IsLowerHexId(renewedMarker)) << renewedMarker;
    EXPECT_NE(renewedMarker, record.marker);
    EXPECT_EQ(renew.out.find(renewedMarker), std::string::npos) << "the marker was printed";
    EXPECT_EQ(RunConsole(L"").out, renewedId + "\r\n");
    // A start-up task that runs again with the old ID changes nothing.
    EXPECT_EQ(RunConsole(L"--new-marker " + Widen(record.id)).nExitCode, 1u);
    EXPECT_EQ(ReadMarker().data, renewedMarker);

    // 260 characters and their terminator, as reg add stores them: no ID in any mode, and the
    // value stays, until --new-marker none replaces it.
    const std::string tooLong = std::string(260, 'k') + '\0';
    WriteMarkerValue(tooLong);
    for (const wchar_t* pArguments :
         {L"", L"--no-write", L"--verify 0123456789abcdef0123456789abcdef"}) {
        SCOPED_TRACE(std::string(pArguments, pArguments + wcslen(pArguments)));
        const ConsoleRun run = RunConsole(pArguments);
        EXPECT_EQ(run.nExitCode, 6u);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err.rfind("idrovan-cli: no ID: the marker key holds a stored value of ", 0),
                  0u)
            << run.err;
        EXPECT_NE(run.err.find(" bytes that cannot be used; idrovan-cli --new-marker none "
                               "replaces it, which gives a new ID\r\n"),
                  std::string::npos)
            << run.err;
    }
    // No ID to renew: exit 6 as for every other mode, and the value stays.
    const ConsoleRun renewOver = RunConsole(L"--new-marker " + Widen(renewedId));
    EXPECT_EQ(renewOver.nExitCode, 6u);
    EXPECT_EQ(renewOver.out, "");
    EXPECT_NE(renewOver.err.find("has no ID to renew: the marker key holds a stored value of "),
              std::string::npos)
        << renewOver.err;
    const ConsoleRun json = RunConsole(L"--json --no-write");
    EXPECT_EQ(json.nExitCode, 6u);
    EXPECT_NE(json.out.find("\"marker\":\"unusable\""), std::string::npos) << json.out;
    EXPECT_EQ(ReadMarker().data.substr(0, 260), std::string(260, 'k')) << "the value was replaced";

    const ConsoleRun replace = RunConsole(L"--new-marker none --json");
    EXPECT_EQ(replace.nExitCode, 0u);
    EXPECT_NE(replace.out.find("\"previous_id\":null,\"renewed\":true,\"marker\":\"created\""),
              std::string::npos)
        << replace.out;
    const Marker replaced = ReadMarker();
    EXPECT_TRUE(IsLowerHexId(replaced.data)) << replaced.data;
    const std::string replacedId = JsonText(replace.out, "id");
    EXPECT_TRUE(IsLowerHexId(replacedId)) << replace.out;
    EXPECT_EQ(RunConsole(L"--no-write").out, replacedId + "\r\n");

    // Without the rights to write, nothing changes.
    ASSERT_TRUE(MakeMarkerKeyReadOnly());
    const ConsoleRun refused = RunConsole(L"--new-marker " + Widen(replacedId));
    EXPECT_EQ(refused.nExitCode, 3u);
    EXPECT_EQ(refused.out, "");
    EXPECT_NE(refused.err.find("a new marker needs an administrator"), std::string::npos)
        << refused.err;
    EXPECT_EQ(ReadMarker().data, replaced.data) << "the marker changed without write rights";

    // For the script, which derives the ID from this marker on its own.
    std::ofstream out(Env("IDROVAN_E2E_RECORD"), std::ios::binary);
    out << replaced.data << "\n" << replacedId << "\n";
}

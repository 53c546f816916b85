// The ID derivation on the platform's real services: the registry, the random source and the
// marker lock. Under Wine the tests first remove the marker key, so that the run covers writing
// the marker as well as reading it; on Windows itself they leave the machine's marker alone,
// since removing it would change the computer's ID. The native build has no machine facts and
// must say so with an empty ID.
#ifdef _WIN32

#include <windows.h>

#include <gtest/gtest.h>

#include <aclapi.h>
#include <sddl.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "identification/drive_id.h"
#include "platform/win32/marker_lock_win.h"

namespace {

// Opened once by one thread, waited for by another (at most 30 s, so that a fault fails the
// test instead of hanging it).
class CTestGate {
public:
    void Open() {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_bOpen = true;
        m_changed.notify_all();
    }
    bool Wait() {
        std::unique_lock<std::mutex> guard(m_mutex);
        return m_changed.wait_for(guard, std::chrono::seconds(30), [this] { return m_bOpen; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_bOpen = false;
};

bool IsRunningUnderWine() {
    HMODULE hNtdll = GetModuleHandleA("ntdll.dll");
    return hNtdll != NULL && GetProcAddress(hNtdll, "wine_get_version") != NULL;
}

bool IsLowercaseHex(const std::string& strText) {
    return strText.find_first_not_of("0123456789abcdef") == std::string::npos;
}

std::string DeriveID() {
    CDriveID driveID;
    CVeltraneString strID = driveID.GetID();
    return strID.GetText();
}

std::string DeriveID(EMarkerAccess eAccess, CDriveIDReport* pReport) {
    CDriveID driveID(GetDefaultMachineFacts(), eAccess);
    CVeltraneString strID = driveID.GetID(pReport);
    return strID.GetText();
}

std::string Text(CVeltraneString str) {
    return str.GetText();
}

void RemoveMarkerKey() {
    LONG nStatus = RegDeleteKeyA(HKEY_CLASSES_ROOT, "lrgDocID");
    ASSERT_TRUE(nStatus == ERROR_SUCCESS || nStatus == ERROR_FILE_NOT_FOUND) << nStatus;
}

bool MarkerKeyExists() {
    HKEY hKey = NULL;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, "lrgDocID", 0, KEY_READ, &hKey) != ERROR_SUCCESS)
        return false;
    RegCloseKey(hKey);
    hKey = NULL;
    return true;
}

TEST(DriveIDWinTest, DerivesTheSameIDTwiceAndStoresThe32ByteMarker) {
    if (IsRunningUnderWine()) {
        RemoveMarkerKey();
    }

    const std::string strFirst = DeriveID();
    const std::string strSecond = DeriveID();
    EXPECT_EQ(32u, strFirst.size());
    EXPECT_TRUE(IsLowercaseHex(strFirst)) << strFirst;
    EXPECT_EQ(strFirst, strSecond);

    HKEY hKey = NULL;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CLASSES_ROOT, "lrgDocID", 0, KEY_READ, &hKey));
    char szMarker[64] = {};
    DWORD nType = 0;
    DWORD nSize = sizeof(szMarker);
    LONG nStatus =
        RegQueryValueExA(hKey, "Rndund", NULL, &nType, reinterpret_cast<BYTE*>(szMarker), &nSize);
    RegCloseKey(hKey);
    hKey = NULL;
    ASSERT_EQ(ERROR_SUCCESS, nStatus);
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), nType);
    // The marker is written as 32 bytes without a terminator. Wine's registry appends one to
    // every REG_SZ value that lacks it, and reports it; Windows stores the bytes as given.
    const DWORD nStoredSize = IsRunningUnderWine() ? 33 : 32;
    ASSERT_EQ(nStoredSize, nSize);
    EXPECT_EQ(32u, strlen(szMarker));
    const std::string strMarker(szMarker, 32);
    EXPECT_TRUE(IsLowercaseHex(strMarker)) << strMarker;
}

// Read-only mode reads the marker through KEY_READ and gives the ID that the writing mode gives;
// without a marker it says so and leaves the registry as it was. The report tells which.
TEST(DriveIDWinTest, ReadOnlyModeGivesTheSameIDOnceTheMarkerExists) {
    CDriveIDReport report;
    if (IsRunningUnderWine()) {
        RemoveMarkerKey();
        EXPECT_EQ("", DeriveID(kMarkerReadOnly, &report));
        EXPECT_STREQ("marker_key", GetDriveIDStepName(report.eFailedStep));
        EXPECT_EQ(ERROR_FILE_NOT_FOUND, report.nStatus);
        EXPECT_EQ(kMarkerMissing, report.eMarker);
        EXPECT_FALSE(MarkerKeyExists());

        // A value of another type is no marker, and read-only mode leaves it there.
        HKEY hKey = NULL;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CLASSES_ROOT, "lrgDocID", 0, NULL, 0,
                                                 KEY_ALL_ACCESS, NULL, &hKey, NULL));
        const DWORD nValue = 7;
        LONG nStatus = RegSetValueExA(hKey, "Rndund", 0, REG_DWORD,
                                      reinterpret_cast<const BYTE*>(&nValue), sizeof(nValue));
        RegCloseKey(hKey);
        hKey = NULL;
        ASSERT_EQ(ERROR_SUCCESS, nStatus);
        EXPECT_EQ("", DeriveID(kMarkerReadOnly, &report));
        EXPECT_STREQ("marker_value", GetDriveIDStepName(report.eFailedStep));
        EXPECT_EQ(ERROR_FILE_NOT_FOUND, report.nStatus);
        EXPECT_EQ(4u, report.nMarkerLength);

        // The writing mode replaces it.
        const std::string strCreated = DeriveID(kMarkerReadWrite, &report);
        EXPECT_EQ(32u, strCreated.size());
        EXPECT_EQ(kMarkerCreated, report.eMarker);
        EXPECT_EQ(kStepNone, report.eFailedStep);
    }

    const std::string strID = DeriveID();
    ASSERT_EQ(32u, strID.size());
    EXPECT_EQ(strID, DeriveID(kMarkerReadWrite, &report));
    EXPECT_EQ(kMarkerPresent, report.eMarker);
    const std::string strVolume = Text(report.strVolume);
    const std::string strRootCreation = Text(report.strRootCreation);
    EXPECT_FALSE(strVolume.empty());
    EXPECT_NE(std::string::npos, strRootCreation.find(" (")) << strRootCreation;

    CDriveIDReport readOnly;
    EXPECT_EQ(strID, DeriveID(kMarkerReadOnly, &readOnly));
    EXPECT_EQ(kMarkerPresent, readOnly.eMarker);
    EXPECT_EQ(kStepNone, readOnly.eFailedStep);
    EXPECT_EQ(0, readOnly.nStatus);
    EXPECT_EQ(strVolume, Text(readOnly.strVolume));
    EXPECT_EQ(strRootCreation, Text(readOnly.strRootCreation));
}

// The system's random source: 16 bytes at a time, never the same twice.
TEST(DriveIDWinTest, RandomSourceGivesBytesThatDiffer) {
    CMachineFacts& machine = GetDefaultMachineFacts();
    unsigned char aFirst[16] = {};
    unsigned char aSecond[16] = {};
    ASSERT_TRUE(machine.ReadRandomBytes(aFirst, sizeof(aFirst)));
    ASSERT_TRUE(machine.ReadRandomBytes(aSecond, sizeof(aSecond)));
    EXPECT_NE(0, std::memcmp(aFirst, aSecond, sizeof(aFirst)));
    const unsigned char aZero[16] = {};
    EXPECT_NE(0, std::memcmp(aFirst, aZero, sizeof(aFirst)));
}

// The marker lock: while one thread holds it another waits and then gives up with WAIT_TIMEOUT;
// a holder that ends without releasing leaves it abandoned, and the next taker gets it. Where the
// system has private namespaces the old Global\ name is not it; where it has none (Wine) that
// name is, with a DACL of SYSTEM and Administrators only, never Everyone's.
TEST(DriveIDWinTest, MarkerLockIsOneMutexThatOnlyAdministratorsMayHold) {
    CMachineFacts& machine = GetDefaultMachineFacts();
    VHLOCK hHeld = nullptr;
    bool bAbandoned = true;
    ASSERT_EQ(VERROR_SUCCESS, machine.AcquireMarkerLock(1000, &hHeld, &bAbandoned));
    ASSERT_NE(nullptr, hHeld);
    EXPECT_FALSE(bAbandoned);

    HANDLE hByName = OpenMutexA(READ_CONTROL, FALSE, "Global\\Veltrane.Idrovan.InstallationMarker");
    if (GetSystemMarkerLockCalls().HasPrivateNamespaces()) {
        EXPECT_EQ(nullptr, hByName) << "the lock is still the Global\\ mutex";
        if (hByName != nullptr)
            CloseHandle(hByName);
    } else {
        ASSERT_NE(nullptr, hByName) << GetLastError();
        PSECURITY_DESCRIPTOR pDescriptor = nullptr;
        PACL pDacl = nullptr;
        char* pszSddl = nullptr;
        ASSERT_EQ(ERROR_SUCCESS,
                  GetSecurityInfo(hByName, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                  nullptr, &pDacl, nullptr, &pDescriptor));
        ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorA(
            pDescriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &pszSddl, nullptr));
        const std::string strSddl = pszSddl;
        LocalFree(pszSddl);
        LocalFree(pDescriptor);
        CloseHandle(hByName);
        EXPECT_EQ(std::string::npos, strSddl.find(";WD)")) << strSddl;
        EXPECT_NE(std::string::npos, strSddl.find(";SY)")) << strSddl;
        EXPECT_NE(std::string::npos, strSddl.find(";BA)")) << strSddl;
    }

    // Held by this thread: another one waits out its time-out and gets nothing.
    long nStatus = VERROR_SUCCESS;
    VHLOCK hOther = reinterpret_cast<VHLOCK>(1);
    std::thread([&] { nStatus = machine.AcquireMarkerLock(200, &hOther, &bAbandoned); }).join();
    EXPECT_EQ(VERROR_WAIT_TIMEOUT, nStatus);
    EXPECT_EQ(nullptr, hOther);
    machine.ReleaseMarkerLock(hHeld);

    // A holder that ends without releasing abandons it; the next taker has it all the same.
    std::thread([&] {
        VHLOCK hLost = nullptr;
        bool bLost = false;
        nStatus = machine.AcquireMarkerLock(1000, &hLost, &bLost);
    }).join();
    ASSERT_EQ(VERROR_SUCCESS, nStatus);
    ASSERT_EQ(VERROR_SUCCESS, machine.AcquireMarkerLock(1000, &hHeld, &bAbandoned));
    EXPECT_TRUE(bAbandoned);
    machine.ReleaseMarkerLock(hHeld);
    ASSERT_EQ(VERROR_SUCCESS, machine.AcquireMarkerLock(1000, &hHeld, &bAbandoned));
    EXPECT_FALSE(bAbandoned);
    machine.ReleaseMarkerLock(hHeld);
}

// A system with private namespaces, which Wine is not, played by a table of calls: what each
// account meets when it takes the lock.
struct SFakeNamespaces {
    std::vector<DWORD> createErrors;  // one per CreatePrivateNamespaceW, 0 for success
    std::vector<DWORD> openErrors;    // one per OpenPrivateNamespaceW
    std::vector<std::string> calls;
    int nBoundaries = 0;  // made and not deleted
    int nNamespaces = 0;  // open
    bool bAdministratorsOnly = true;
    std::wstring strMutexName;
};
SFakeNamespaces* g_pFake = nullptr;
// The real mutex that stands for the one in the namespace.
const wchar_t kStandInMutex[] = L"Local\\Idrovan.Test.MarkerLockStandIn";

// True when the descriptor grants exactly SYSTEM and Administrators.
bool IsAdministratorsOnly(LPSECURITY_ATTRIBUTES pAttributes) {
    char* pszSddl = nullptr;
    if (pAttributes == nullptr || !ConvertSecurityDescriptorToStringSecurityDescriptorA(
                                      pAttributes->lpSecurityDescriptor, SDDL_REVISION_1,
                                      DACL_SECURITY_INFORMATION, &pszSddl, nullptr))
        return false;
    const std::string strSddl = pszSddl;
    LocalFree(pszSddl);
    return strSddl == "D:P(A;;GA;;;SY)(A;;GA;;;BA)";
}

HANDLE WINAPI FakeCreateBoundary(LPCWSTR, ULONG) {
    g_pFake->calls.push_back("CreateBoundaryDescriptor");
    ++g_pFake->nBoundaries;
    return reinterpret_cast<HANDLE>(0x100);
}
BOOL WINAPI FakeAddSid(HANDLE*, PSID pSid) {
    g_pFake->calls.push_back(IsWellKnownSid(pSid, WinBuiltinAdministratorsSid)
                                 ? "AddSIDToBoundaryDescriptor Administrators"
                                 : "AddSIDToBoundaryDescriptor other");
    return TRUE;
}
VOID WINAPI FakeDeleteBoundary(HANDLE) {
    g_pFake->calls.push_back("DeleteBoundaryDescriptor");
    --g_pFake->nBoundaries;
}
HANDLE NextNamespace(std::vector<DWORD>& errors, const char* pszCall) {
    g_pFake->calls.push_back(pszCall);
    const DWORD nError = errors.empty() ? ERROR_INVALID_FUNCTION : errors.front();
    if (!errors.empty())
        errors.erase(errors.begin());
    if (nError != 0) {
        SetLastError(nError);
        return nullptr;
    }
    ++g_pFake->nNamespaces;
    return reinterpret_cast<HANDLE>(0x200);
}
HANDLE WINAPI FakeCreateNamespace(LPSECURITY_ATTRIBUTES pAttributes, LPVOID, LPCWSTR pszAlias) {
    g_pFake->bAdministratorsOnly &=
        IsAdministratorsOnly(pAttributes) && std::wstring(pszAlias) == L"Veltrane.Idrovan";
    return NextNamespace(g_pFake->createErrors, "CreatePrivateNamespace");
}
HANDLE WINAPI FakeOpenNamespace(LPVOID, LPCWSTR) {
    return NextNamespace(g_pFake->openErrors, "OpenPrivateNamespace");
}
BOOLEAN WINAPI FakeCloseNamespace(HANDLE, ULONG nFlags) {
    g_pFake->calls.push_back(nFlags == 0 ? "ClosePrivateNamespace" : "ClosePrivateNamespace !");
    --g_pFake->nNamespaces;
    return TRUE;
}
HANDLE WINAPI FakeCreateMutex(LPSECURITY_ATTRIBUTES pAttributes, LPCWSTR pszName, DWORD nFlags,
                              DWORD nAccess) {
    g_pFake->calls.push_back("CreateMutex");
    g_pFake->strMutexName = pszName;
    g_pFake->bAdministratorsOnly &= IsAdministratorsOnly(pAttributes);
    return CreateMutexExW(nullptr, kStandInMutex, nFlags, nAccess);
}

const SMarkerLockCalls kFakeCalls = {&FakeCreateBoundary,  &FakeAddSid,        &FakeDeleteBoundary,
                                     &FakeCreateNamespace, &FakeOpenNamespace, &FakeCloseNamespace,
                                     &FakeCreateMutex};

TEST(DriveIDWinTest, MarkerLockInAPrivateNamespaceOnlyAdministratorsReach) {
    const std::vector<std::string> kMade = {"CreateBoundaryDescriptor",
                                            "AddSIDToBoundaryDescriptor Administrators",
                                            "CreatePrivateNamespace"};
    const std::vector<std::string> kHeld = {"CreateMutex", "DeleteBoundaryDescriptor"};
    const struct {
        const char* pszWhat;
        std::vector<DWORD> createErrors;
        std::vector<DWORD> openErrors;
        bool bHeldElsewhere;
        long nStatus;
        std::vector<std::string> calls;  // after kMade, up to the release
    } cases[] = {
        {"made here", {0}, {}, false, VERROR_SUCCESS, kHeld},
        {"made by another process",
         {ERROR_ALREADY_EXISTS},
         {0},
         false,
         VERROR_SUCCESS,
         std::vector<std::string>{"OpenPrivateNamespace", "CreateMutex",
                                  "DeleteBoundaryDescriptor"}},
        {"gone between the create and the open: made anew",
         {ERROR_ALREADY_EXISTS, 0},
         {ERROR_PATH_NOT_FOUND},
         false,
         VERROR_SUCCESS,
         {"OpenPrivateNamespace", "CreatePrivateNamespace", "CreateMutex",
          "DeleteBoundaryDescriptor"}},
        // Outside the boundary no namespace can be made, and the namespace's DACL keeps one that
        // exists from opening: no lock, nothing held, "access denied".
        {"a standard user, no namespace yet",
         {ERROR_ACCESS_DENIED},
         {ERROR_PATH_NOT_FOUND},
         false,
         VERROR_ACCESS_DENIED,
         {"OpenPrivateNamespace", "DeleteBoundaryDescriptor"}},
        {"a standard user, a namespace made by an administrator",
         {ERROR_ALREADY_EXISTS},
         {ERROR_ACCESS_DENIED},
         false,
         VERROR_ACCESS_DENIED,
         {"OpenPrivateNamespace", "DeleteBoundaryDescriptor"}},
        {"gone again and again: given up",
         {ERROR_ALREADY_EXISTS, ERROR_ALREADY_EXISTS, ERROR_ALREADY_EXISTS},
         {ERROR_PATH_NOT_FOUND, ERROR_PATH_NOT_FOUND, ERROR_PATH_NOT_FOUND},
         false,
         ERROR_PATH_NOT_FOUND,
         {"OpenPrivateNamespace", "CreatePrivateNamespace", "OpenPrivateNamespace",
          "CreatePrivateNamespace", "OpenPrivateNamespace", "DeleteBoundaryDescriptor"}},
        // Held by another administrator's run: the wait ends, and the namespace is let go.
        {"held elsewhere",
         {0},
         {},
         true,
         VERROR_WAIT_TIMEOUT,
         {"CreateMutex", "DeleteBoundaryDescriptor", "ClosePrivateNamespace"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        SFakeNamespaces fake;
        fake.createErrors = c.createErrors;
        fake.openErrors = c.openErrors;
        g_pFake = &fake;

        HANDLE hOther = nullptr;
        std::thread holder;
        CTestGate taken;
        CTestGate done;
        if (c.bHeldElsewhere) {
            holder = std::thread([&] {
                hOther = CreateMutexExW(nullptr, kStandInMutex, CREATE_MUTEX_INITIAL_OWNER,
                                        SYNCHRONIZE | MUTEX_MODIFY_STATE);
                taken.Open();
                done.Wait();
                ReleaseMutex(hOther);
                CloseHandle(hOther);
            });
            taken.Wait();
        }
        VHLOCK hLock = nullptr;
        bool bAbandoned = true;
        EXPECT_EQ(c.nStatus, AcquireMarkerLockWith(kFakeCalls, 200, &hLock, &bAbandoned));
        EXPECT_EQ(c.nStatus == VERROR_SUCCESS, hLock != nullptr);
        if (hLock != nullptr) {
            EXPECT_FALSE(bAbandoned);
            EXPECT_EQ(L"Veltrane.Idrovan\\InstallationMarker", fake.strMutexName);
            EXPECT_EQ(1, fake.nNamespaces) << "the namespace is let go while the lock is held";
            ReleaseMarkerLockWith(kFakeCalls, hLock);
        }
        if (c.bHeldElsewhere) {
            done.Open();
            holder.join();
        }
        std::vector<std::string> expected = kMade;
        expected.insert(expected.end(), c.calls.begin(), c.calls.end());
        if (hLock != nullptr)
            expected.push_back("ClosePrivateNamespace");
        EXPECT_EQ(expected, fake.calls);
        EXPECT_TRUE(fake.bAdministratorsOnly);
        EXPECT_EQ(0, fake.nBoundaries);
        EXPECT_EQ(0, fake.nNamespaces);
        g_pFake = nullptr;
    }
}

// A REG_SZ value longer than the read buffer (260 characters and their terminator, as reg add
// stores them) gives no ID, and neither mode writes over it.
TEST(DriveIDWinTest, ValueTooLongToReadIsKeptAndGivesNoID) {
    if (!IsRunningUnderWine())
        GTEST_SKIP() << "would replace this machine's marker";
    RemoveMarkerKey();
    HKEY hKey = NULL;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CLASSES_ROOT, "lrgDocID", 0, NULL, 0,
                                             KEY_ALL_ACCESS, NULL, &hKey, NULL));
    const std::string strStored = std::string(260, 'k') + '\0';
    LONG nStatus =
        RegSetValueExA(hKey, "Rndund", 0, REG_SZ, reinterpret_cast<const BYTE*>(strStored.data()),
                       static_cast<DWORD>(strStored.size()));
    RegCloseKey(hKey);
    hKey = NULL;
    ASSERT_EQ(ERROR_SUCCESS, nStatus);

    for (EMarkerAccess eAccess : {kMarkerReadWrite, kMarkerReadOnly}) {
        CDriveIDReport report;
        EXPECT_EQ("", DeriveID(eAccess, &report));
        EXPECT_EQ(kMarkerUnusable, report.eMarker);
        EXPECT_STREQ("marker_value", GetDriveIDStepName(report.eFailedStep));
        EXPECT_EQ(ERROR_MORE_DATA, report.nStatus);
        EXPECT_GE(report.nMarkerLength, 261u);
    }
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CLASSES_ROOT, "lrgDocID", 0, KEY_READ, &hKey));
    char szValue[400] = {};
    DWORD nSize = sizeof(szValue);
    nStatus =
        RegQueryValueExA(hKey, "Rndund", NULL, NULL, reinterpret_cast<BYTE*>(szValue), &nSize);
    RegCloseKey(hKey);
    hKey = NULL;
    ASSERT_EQ(ERROR_SUCCESS, nStatus);
    EXPECT_EQ(std::string(260, 'k'), std::string(szValue));
    RemoveMarkerKey();
}

}  // namespace

#else

#include <gtest/gtest.h>

#include "identification/drive_id.h"

TEST(DriveIDWinTest, NativeBuildHasNoMachineFactsAndGivesNoID) {
    CDriveID driveID;
    CVeltraneString strID = driveID.GetID();
    EXPECT_EQ(0, strID.GetLength());
}

#endif  // _WIN32

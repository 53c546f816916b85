// The marker lock on Windows: the system's own calls (under Wine the Global\ fallback), and a
// system with private namespaces played by stand-in calls, which Wine cannot show: what each
// account meets, and that two runs never hold the lock at once however long the namespace lives.
#ifdef _WIN32

#include <windows.h>

#include <gtest/gtest.h>

#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <cstring>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/win32/marker_lock_win.h"

namespace {

// Waits until the condition holds, at most 30 s, so that a fault fails the test instead of
// hanging it. Any thread may change what the condition reads and then call Notify.
class CTestSignal {
public:
    void Notify() {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_changed.notify_all();
    }
    bool WaitUntil(const std::function<bool()>& condition) {
        std::unique_lock<std::mutex> guard(m_mutex);
        return m_changed.wait_for(guard, std::chrono::seconds(30), condition);
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
};

// The owner as SDDL ("O:BA"), or what went wrong.
std::string OwnerText(HANDLE hObject) {
    PSECURITY_DESCRIPTOR pDescriptor = nullptr;
    PSID pOwner = nullptr;
    char* pszSddl = nullptr;
    if (GetSecurityInfo(hObject, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &pOwner, nullptr,
                        nullptr, nullptr, &pDescriptor) != ERROR_SUCCESS)
        return "(unreadable)";
    std::string strSddl = "(unconvertible)";
    if (ConvertSecurityDescriptorToStringSecurityDescriptorA(
            pDescriptor, SDDL_REVISION_1, OWNER_SECURITY_INFORMATION, &pszSddl, nullptr)) {
        strSddl = pszSddl;
        LocalFree(pszSddl);
    }
    LocalFree(pDescriptor);
    return strSddl;
}

std::string DaclText(HANDLE hObject) {
    PSECURITY_DESCRIPTOR pDescriptor = nullptr;
    PACL pDacl = nullptr;
    char* pszSddl = nullptr;
    if (GetSecurityInfo(hObject, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                        &pDacl, nullptr, &pDescriptor) != ERROR_SUCCESS)
        return "(unreadable)";
    std::string strSddl = "(unconvertible)";
    if (ConvertSecurityDescriptorToStringSecurityDescriptorA(
            pDescriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &pszSddl, nullptr)) {
        strSddl = pszSddl;
        LocalFree(pszSddl);
    }
    LocalFree(pDescriptor);
    return strSddl;
}

// While one thread holds the lock another waits and then gives up with WAIT_TIMEOUT. Where the
// system has private namespaces the old Global\ name is not the lock; where it has none (Wine)
// that name is, with a DACL of SYSTEM and Administrators only, never Everyone's, and a holder
// that ends without releasing leaves it abandoned.
TEST(MarkerLockWinTest, OneLockThatOnlyAdministratorsMayHold) {
    const SMarkerLockCalls& calls = GetSystemMarkerLockCalls();
    VHLOCK hHeld = nullptr;
    bool bAbandoned = true;
    ASSERT_EQ(VERROR_SUCCESS, AcquireMarkerLockWith(calls, 1000, &hHeld, &bAbandoned));
    ASSERT_NE(nullptr, hHeld);
    EXPECT_FALSE(bAbandoned);

    HANDLE hByName = OpenMutexA(READ_CONTROL, FALSE, kMarkerLockName);
    if (calls.HasPrivateNamespaces()) {
        EXPECT_EQ(nullptr, hByName) << "the lock is still the Global\\ mutex";
    } else {
        EXPECT_TRUE(calls.bUnderWine);
        ASSERT_NE(nullptr, hByName) << GetLastError();
        const std::string strSddl = DaclText(hByName);
        EXPECT_EQ(std::string::npos, strSddl.find(";WD)")) << strSddl;
        EXPECT_NE(std::string::npos, strSddl.find(";SY)")) << strSddl;
        EXPECT_NE(std::string::npos, strSddl.find(";BA)")) << strSddl;
        EXPECT_EQ("O:BA", OwnerText(hByName));
    }
    if (hByName != nullptr)
        CloseHandle(hByName);

    // Held by this thread: another one waits out its time-out and gets nothing.
    long nStatus = VERROR_SUCCESS;
    VHLOCK hOther = reinterpret_cast<VHLOCK>(1);
    std::thread([&] { nStatus = AcquireMarkerLockWith(calls, 200, &hOther, &bAbandoned); }).join();
    EXPECT_EQ(VERROR_WAIT_TIMEOUT, nStatus);
    EXPECT_EQ(nullptr, hOther);
    ReleaseMarkerLockWith(calls, hHeld);

    // A thread that ends holding the namespace keeps it for its process; only the mutex of the
    // fallback is given up with the thread.
    if (calls.HasPrivateNamespaces())
        return;
    VHLOCK hLost = nullptr;
    std::thread([&] {
        bool bLost = false;
        nStatus = AcquireMarkerLockWith(calls, 1000, &hLost, &bLost);
    }).join();
    ASSERT_EQ(VERROR_SUCCESS, nStatus);
    ASSERT_EQ(VERROR_SUCCESS, AcquireMarkerLockWith(calls, 1000, &hHeld, &bAbandoned));
    EXPECT_TRUE(bAbandoned);
    ReleaseMarkerLockWith(calls, hHeld);
    ReleaseMarkerLockWith(calls, hLost);  // its mutex is no longer the ended thread's to release
    ASSERT_EQ(VERROR_SUCCESS, AcquireMarkerLockWith(calls, 1000, &hHeld, &bAbandoned));
    EXPECT_FALSE(bAbandoned);
    ReleaseMarkerLockWith(calls, hHeld);
}

// The Global\ fallback (Wine): an object that someone else made first under the name, with
// rights for others or of another type, is refused as a squat; once it is gone the lock is
// taken as ever.
TEST(MarkerLockWinTest, FallbackRefusesAnObjectThatSomeoneElseMadeUnderItsName) {
    const SMarkerLockCalls& calls = GetSystemMarkerLockCalls();
    if (calls.HasPrivateNamespaces())
        GTEST_SKIP() << "the Global\\ fallback is for systems without private namespaces";
    const struct {
        const char* pszWhat;
        bool bMutex;
        const char* pszSddl;  // null: no DACL at all, which grants everyone everything
    } squats[] = {
        {"a mutex anyone may hold", true, "D:(A;;GA;;;WD)"},
        {"a mutex that administrators and Users may hold", true, "D:(A;;GA;;;BA)(A;;GA;;;BU)"},
        {"a mutex that grants no one", true, "D:"},
        {"a mutex without a DACL", true, nullptr},
        {"an event", false, "D:(A;;GA;;;WD)"},
        // Our DACL, but another owner, who may rewrite it at any time.
        {"a mutex with our DACL owned by Users", true, "O:BUD:P(A;;GA;;;SY)(A;;GA;;;BA)"},
        {"a mutex with our DACL owned by an account", true,
         "O:S-1-5-21-1004336348-1177238915-682003330-1001D:P(A;;GA;;;SY)(A;;GA;;;BA)"},
    };
    for (const auto& squat : squats) {
        SCOPED_TRACE(squat.pszWhat);
        SECURITY_DESCRIPTOR noDacl = {};
        ASSERT_TRUE(InitializeSecurityDescriptor(&noDacl, SECURITY_DESCRIPTOR_REVISION));
        ASSERT_TRUE(SetSecurityDescriptorDacl(&noDacl, TRUE, nullptr, FALSE));
        PSECURITY_DESCRIPTOR pDescriptor = nullptr;
        if (squat.pszSddl != nullptr) {
            ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(
                squat.pszSddl, SDDL_REVISION_1, &pDescriptor, nullptr));
        }
        SECURITY_ATTRIBUTES attributes = {sizeof(attributes),
                                          pDescriptor != nullptr ? pDescriptor : &noDacl, FALSE};
        HANDLE hSquat = squat.bMutex
                            ? CreateMutexExA(&attributes, kMarkerLockName, 0, MUTEX_ALL_ACCESS)
                            : CreateEventExA(&attributes, kMarkerLockName, 0, EVENT_ALL_ACCESS);
        const DWORD nSquatError = GetLastError();
        LocalFree(pDescriptor);
        ASSERT_NE(nullptr, hSquat) << nSquatError;
        ASSERT_NE(static_cast<DWORD>(ERROR_ALREADY_EXISTS), nSquatError) << "the lock was there";
        const std::string strSquatDacl = DaclText(hSquat);
        // The squat really has the owner it names; otherwise the case would test nothing new.
        if (squat.pszSddl != nullptr && std::strncmp(squat.pszSddl, "O:", 2) == 0) {
            ASSERT_EQ(0u, std::string(squat.pszSddl).find(OwnerText(hSquat))) << OwnerText(hSquat);
        }

        VHLOCK hLock = reinterpret_cast<VHLOCK>(1);
        bool bAbandoned = true;
        EXPECT_EQ(kMarkerLockSquatted, AcquireMarkerLockWith(calls, 200, &hLock, &bAbandoned))
            << strSquatDacl;
        EXPECT_EQ(nullptr, hLock);
        EXPECT_EQ(strSquatDacl, DaclText(hSquat)) << "taken over";
        CloseHandle(hSquat);

        ASSERT_EQ(VERROR_SUCCESS, AcquireMarkerLockWith(calls, 200, &hLock, &bAbandoned));
        EXPECT_FALSE(bAbandoned);
        ReleaseMarkerLockWith(calls, hLock);
    }
}

// Missing namespace calls outside Wine are a failure of their own, and no Global\ mutex that
// anyone could squat is made instead.
TEST(MarkerLockWinTest, NoNamespaceCallsOutsideWineIsAFailure) {
    HANDLE hByName = OpenMutexA(SYNCHRONIZE, FALSE, kMarkerLockName);
    if (hByName != nullptr) {
        CloseHandle(hByName);
        GTEST_SKIP() << "another run holds the Global\\ mutex";
    }
    SMarkerLockCalls calls = {};
    calls.pfnCreateBoundaryDescriptorW = GetSystemMarkerLockCalls().pfnCreateBoundaryDescriptorW;
    calls.pfnCreateMutexExW = &CreateMutexExW;
    calls.bUnderWine = false;
    VHLOCK hLock = reinterpret_cast<VHLOCK>(1);
    bool bAbandoned = true;
    EXPECT_EQ(kMarkerLockNoNamespaces, AcquireMarkerLockWith(calls, 200, &hLock, &bAbandoned));
    EXPECT_EQ(nullptr, hLock);
    hByName = OpenMutexA(SYNCHRONIZE, FALSE, kMarkerLockName);
    EXPECT_EQ(nullptr, hByName);
    if (hByName != nullptr)
        CloseHandle(hByName);
}

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

std::wstring StandInMutexName(int nNamespace) {
    return L"Local\\Idrovan.Test.MarkerLock." + std::to_wstring(GetCurrentProcessId()) + L"." +
           std::to_wstring(nNamespace);
}

// A system with private namespaces, played by a table of calls: each CreatePrivateNamespaceW
// and OpenPrivateNamespaceW answers with the next scripted status (0 for success; the last one
// again when the script ends), and the mutex in the namespace is a real one of this process.
struct SScriptedNamespaces {
    std::vector<DWORD> createErrors;
    std::vector<DWORD> openErrors;
    DWORD nBoundaryError = 0;  // CreateBoundaryDescriptorW fails with it, unless 0 (kNoStatus: 0)
    std::vector<std::string> calls;
    int nBoundaries = 0;  // made and not deleted
    int nNamespaces = 0;  // open
    bool bAdministratorsOnly = true;
    std::wstring strMutexName;
};
SScriptedNamespaces* g_pScript = nullptr;

DWORD NextError(std::vector<DWORD>& errors) {
    const DWORD nError = errors.empty() ? ERROR_INVALID_FUNCTION : errors.front();
    if (errors.size() > 1)
        errors.erase(errors.begin());
    return nError;
}
// A scripted failure that leaves a status of 0.
const DWORD kNoStatus = 0xFFFFFFFF;
HANDLE WINAPI ScriptedCreateBoundary(LPCWSTR, ULONG) {
    g_pScript->calls.push_back("CreateBoundaryDescriptor");
    if (g_pScript->nBoundaryError != 0) {
        SetLastError(g_pScript->nBoundaryError == kNoStatus ? 0 : g_pScript->nBoundaryError);
        return nullptr;
    }
    ++g_pScript->nBoundaries;
    return reinterpret_cast<HANDLE>(0x100);
}
BOOL WINAPI ScriptedAddSid(HANDLE*, PSID pSid) {
    g_pScript->calls.push_back(IsWellKnownSid(pSid, WinBuiltinAdministratorsSid)
                                   ? "AddSIDToBoundaryDescriptor Administrators"
                                   : "AddSIDToBoundaryDescriptor other");
    return TRUE;
}
VOID WINAPI ScriptedDeleteBoundary(HANDLE) {
    g_pScript->calls.push_back("DeleteBoundaryDescriptor");
    --g_pScript->nBoundaries;
}
HANDLE ScriptedNamespace(std::vector<DWORD>& errors, const char* pszCall) {
    g_pScript->calls.push_back(pszCall);
    const DWORD nError = NextError(errors);
    if (nError != 0) {
        SetLastError(nError == kNoStatus ? 0 : nError);
        return nullptr;
    }
    ++g_pScript->nNamespaces;
    return reinterpret_cast<HANDLE>(0x200);
}
HANDLE WINAPI ScriptedCreateNamespace(LPSECURITY_ATTRIBUTES pAttributes, LPVOID, LPCWSTR pszAlias) {
    g_pScript->bAdministratorsOnly &=
        IsAdministratorsOnly(pAttributes) && std::wstring(pszAlias) == L"Veltrane.Idrovan";
    return ScriptedNamespace(g_pScript->createErrors, "CreatePrivateNamespace");
}
HANDLE WINAPI ScriptedOpenNamespace(LPVOID, LPCWSTR) {
    return ScriptedNamespace(g_pScript->openErrors, "OpenPrivateNamespace");
}
BOOLEAN WINAPI ScriptedCloseNamespace(HANDLE, ULONG nFlags) {
    g_pScript->calls.push_back(nFlags == 0 ? "ClosePrivateNamespace" : "ClosePrivateNamespace !");
    --g_pScript->nNamespaces;
    return TRUE;
}
HANDLE WINAPI ScriptedCreateMutex(LPSECURITY_ATTRIBUTES pAttributes, LPCWSTR pszName, DWORD nFlags,
                                  DWORD nAccess) {
    g_pScript->calls.push_back("CreateMutex");
    g_pScript->strMutexName = pszName;
    g_pScript->bAdministratorsOnly &= IsAdministratorsOnly(pAttributes);
    return CreateMutexExW(nullptr, StandInMutexName(0).c_str(), nFlags, nAccess);
}

const SMarkerLockCalls kScriptedCalls = {&ScriptedCreateBoundary, &ScriptedAddSid,
                                         &ScriptedDeleteBoundary, &ScriptedCreateNamespace,
                                         &ScriptedOpenNamespace,  &ScriptedCloseNamespace,
                                         &ScriptedCreateMutex,    false};

TEST(MarkerLockWinTest, PrivateNamespaceThatOnlyAdministratorsReach) {
    const std::vector<std::string> kBoundary = {"CreateBoundaryDescriptor",
                                                "AddSIDToBoundaryDescriptor Administrators"};
    const std::vector<std::string> kMade = {"CreatePrivateNamespace", "DeleteBoundaryDescriptor",
                                            "CreateMutex"};
    // Made by another run: looked at, closed again, and tried anew kMarkerLockPollMs later.
    const std::vector<std::string> kBusy = {"CreatePrivateNamespace", "OpenPrivateNamespace",
                                            "ClosePrivateNamespace"};
    const std::vector<std::string> kGone = {"CreatePrivateNamespace", "OpenPrivateNamespace"};
    const auto Join = [](std::vector<std::vector<std::string>> parts) {
        std::vector<std::string> all;
        for (const auto& part : parts)
            all.insert(all.end(), part.begin(), part.end());
        return all;
    };
    const struct {
        const char* pszWhat;
        std::vector<DWORD> createErrors;
        std::vector<DWORD> openErrors;
        bool bMutexHeldElsewhere;
        long nStatus;
        std::vector<std::string> calls;  // after the boundary, up to the release; empty: unchecked
    } cases[] = {
        {"made here", {0}, {}, false, VERROR_SUCCESS, kMade},
        {"made by another run, which then ends",
         {ERROR_ALREADY_EXISTS, ERROR_ALREADY_EXISTS, 0},
         {0},
         false,
         VERROR_SUCCESS,
         Join({kBusy, kBusy, kMade})},
        {"gone between the create and the open (path not found)",
         {ERROR_ALREADY_EXISTS, 0},
         {ERROR_PATH_NOT_FOUND},
         false,
         VERROR_SUCCESS,
         Join({kGone, kMade})},
        {"gone between the create and the open (file not found)",
         {ERROR_ALREADY_EXISTS, 0},
         {ERROR_FILE_NOT_FOUND},
         false,
         VERROR_SUCCESS,
         Join({kGone, kMade})},
        // Outside the boundary no namespace can be made, and the namespace's DACL keeps one that
        // exists from opening: no lock, nothing held, "access denied".
        {"a standard user, no namespace yet",
         {ERROR_ACCESS_DENIED},
         {},
         false,
         VERROR_ACCESS_DENIED,
         {"CreatePrivateNamespace", "DeleteBoundaryDescriptor"}},
        {"a standard user, a namespace made by an administrator",
         {ERROR_ALREADY_EXISTS},
         {ERROR_ACCESS_DENIED},
         false,
         VERROR_ACCESS_DENIED,
         Join({kGone, {"DeleteBoundaryDescriptor"}})},
        // A failure that leaves no status is still a failure.
        {"create fails without a status",
         {kNoStatus},
         {},
         false,
         kMarkerLockNoStatus,
         {"CreatePrivateNamespace", "DeleteBoundaryDescriptor"}},
        {"open fails without a status",
         {ERROR_ALREADY_EXISTS},
         {kNoStatus},
         false,
         kMarkerLockNoStatus,
         Join({kGone, {"DeleteBoundaryDescriptor"}})},
        // Made by other runs for the whole wait: given up, nothing held.
        {"held elsewhere", {ERROR_ALREADY_EXISTS}, {0}, false, VERROR_WAIT_TIMEOUT, {}},
        {"never to be opened",
         {ERROR_ALREADY_EXISTS},
         {ERROR_PATH_NOT_FOUND},
         false,
         VERROR_WAIT_TIMEOUT,
         {}},
        // The mutex inside held by a run of a build that waited in the namespace: the wait ends,
        // and the namespace is let go.
        {"mutex held elsewhere",
         {0},
         {},
         true,
         VERROR_WAIT_TIMEOUT,
         Join({kMade, {"ClosePrivateNamespace"}})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        SScriptedNamespaces script;
        script.createErrors = c.createErrors;
        script.openErrors = c.openErrors;
        g_pScript = &script;

        HANDLE hOther = nullptr;
        std::thread holder;
        bool bTaken = false;
        bool bDone = false;
        CTestSignal signal;
        if (c.bMutexHeldElsewhere) {
            holder = std::thread([&] {
                hOther =
                    CreateMutexExW(nullptr, StandInMutexName(0).c_str(), CREATE_MUTEX_INITIAL_OWNER,
                                   SYNCHRONIZE | MUTEX_MODIFY_STATE);
                bTaken = true;
                signal.Notify();
                signal.WaitUntil([&] { return bDone; });
                ReleaseMutex(hOther);
                CloseHandle(hOther);
            });
            signal.WaitUntil([&] { return bTaken; });
        }
        VHLOCK hLock = nullptr;
        bool bAbandoned = true;
        EXPECT_EQ(c.nStatus, AcquireMarkerLockWith(kScriptedCalls, 200, &hLock, &bAbandoned));
        EXPECT_EQ(c.nStatus == VERROR_SUCCESS, hLock != nullptr);
        if (hLock != nullptr) {
            EXPECT_FALSE(bAbandoned);
            EXPECT_EQ(L"Veltrane.Idrovan\\InstallationMarker", script.strMutexName);
            EXPECT_EQ(1, script.nNamespaces) << "the namespace is let go while the lock is held";
            ReleaseMarkerLockWith(kScriptedCalls, hLock);
        }
        if (c.bMutexHeldElsewhere) {
            bDone = true;
            signal.Notify();
            holder.join();
        }
        std::vector<std::string> expected = Join({kBoundary, c.calls});
        if (hLock != nullptr)
            expected.push_back("ClosePrivateNamespace");
        if (!c.calls.empty())
            EXPECT_EQ(expected, script.calls);
        else
            EXPECT_LT(kBusy.size() * 3, script.calls.size()) << "tried again while it waited";
        EXPECT_TRUE(script.bAdministratorsOnly);
        EXPECT_EQ(0, script.nBoundaries);
        EXPECT_EQ(0, script.nNamespaces);
        g_pScript = nullptr;
    }
}

// The boundary that cannot be made: its status, or a non-zero one where it left none.
TEST(MarkerLockWinTest, BoundaryThatCannotBeMadeIsAFailure) {
    for (const DWORD nError : {static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY), kNoStatus}) {
        SScriptedNamespaces script;
        script.nBoundaryError = nError;
        g_pScript = &script;
        VHLOCK hLock = reinterpret_cast<VHLOCK>(1);
        bool bAbandoned = true;
        EXPECT_EQ(nError == kNoStatus ? kMarkerLockNoStatus : static_cast<long>(nError),
                  AcquireMarkerLockWith(kScriptedCalls, 200, &hLock, &bAbandoned));
        EXPECT_EQ(nullptr, hLock);
        EXPECT_EQ(std::vector<std::string>{"CreateBoundaryDescriptor"}, script.calls);
        g_pScript = nullptr;
    }
}

// How long a namespace can be found once the run that made it closes its handle.
enum ENamespaceLifetime {
    kLivesWhileOpen,   // while any process has it open
    kGoneWithMaker,    // Microsoft's pages: opens fail, and a new one can be made
    kHiddenWithMaker,  // opens fail, but none can be made while any process has it open
};

// A system with private namespaces that keeps track of who made which one and who has it open,
// for several runs on several threads at once. Each namespace has a real mutex of its own.
struct SNamespaceSystem {
    ENamespaceLifetime eLifetime = kLivesWhileOpen;
    std::mutex guard;
    int nLive = 0;                 // the namespace that create and open find; 0 for none
    int nHidden = 0;               // one that cannot be opened, but blocks a create while open
    std::map<int, int> openCount;  // namespace: handles open
    struct SHandle {
        int nNamespace;
        bool bMaker;
    };
    std::map<HANDLE, SHandle> handles;
    int nFailedCreates = 0;
    CTestSignal changed;

    // Closes a handle as the system would: also when its process ends.
    void Close(HANDLE hNamespace) {
        std::lock_guard<std::mutex> lock(guard);
        const auto found = handles.find(hNamespace);
        if (found == handles.end())
            return;
        const SHandle closed = found->second;
        handles.erase(found);
        const int nLeft = --openCount[closed.nNamespace];
        if (closed.nNamespace == nLive &&
            (nLeft == 0 || (closed.bMaker && eLifetime != kLivesWhileOpen))) {
            nHidden = eLifetime == kHiddenWithMaker && nLeft > 0 ? nLive : 0;
            nLive = 0;
        }
        if (closed.nNamespace == nHidden && nLeft == 0)
            nHidden = 0;
    }
    HANDLE Add(int nNamespace, bool bMaker) {
        static std::atomic<std::uintptr_t> s_nNext(0x1000);
        HANDLE hNamespace = reinterpret_cast<HANDLE>(s_nNext.fetch_add(4));
        handles[hNamespace] = {nNamespace, bMaker};
        ++openCount[nNamespace];
        return hNamespace;
    }
};
SNamespaceSystem* g_pSystem = nullptr;
// The namespace that this thread made or opened last, in which its CreateMutex names the mutex,
// and the handle of the one it made last.
thread_local int t_nNamespace = 0;
thread_local HANDLE t_hMade = nullptr;
std::atomic<int> g_nNextNamespace(1);

HANDLE WINAPI SystemCreateBoundary(LPCWSTR, ULONG) {
    return reinterpret_cast<HANDLE>(0x100);
}
BOOL WINAPI SystemAddSid(HANDLE*, PSID) {
    return TRUE;
}
VOID WINAPI SystemDeleteBoundary(HANDLE) {}
HANDLE WINAPI SystemCreateNamespace(LPSECURITY_ATTRIBUTES, LPVOID, LPCWSTR) {
    HANDLE hNamespace = nullptr;
    {
        std::lock_guard<std::mutex> lock(g_pSystem->guard);
        if (g_pSystem->nLive != 0 || g_pSystem->nHidden != 0) {
            ++g_pSystem->nFailedCreates;
        } else {
            g_pSystem->nLive = g_nNextNamespace++;
            t_nNamespace = g_pSystem->nLive;
            hNamespace = g_pSystem->Add(g_pSystem->nLive, true);
            t_hMade = hNamespace;
        }
    }
    g_pSystem->changed.Notify();
    SetLastError(hNamespace == nullptr ? ERROR_ALREADY_EXISTS : 0);
    return hNamespace;
}
HANDLE WINAPI SystemOpenNamespace(LPVOID, LPCWSTR) {
    std::lock_guard<std::mutex> lock(g_pSystem->guard);
    if (g_pSystem->nLive == 0) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return nullptr;
    }
    t_nNamespace = g_pSystem->nLive;
    return g_pSystem->Add(g_pSystem->nLive, false);
}
BOOLEAN WINAPI SystemCloseNamespace(HANDLE hNamespace, ULONG) {
    g_pSystem->Close(hNamespace);
    g_pSystem->changed.Notify();
    return TRUE;
}
HANDLE WINAPI SystemCreateMutex(LPSECURITY_ATTRIBUTES, LPCWSTR, DWORD nFlags, DWORD nAccess) {
    return CreateMutexExW(nullptr, StandInMutexName(t_nNamespace).c_str(), nFlags, nAccess);
}

const SMarkerLockCalls kSystemCalls = {
    &SystemCreateBoundary, &SystemAddSid,         &SystemDeleteBoundary, &SystemCreateNamespace,
    &SystemOpenNamespace,  &SystemCloseNamespace, &SystemCreateMutex,    false};

// Two runs never hold the lock at once. Run A makes the namespace and holds the lock; B comes
// and waits; a process of an older build opens A's namespace and stays in it; A's process ends
// without releasing (the system closes its handle, its mutex is abandoned); C comes. Where the
// namespace can no longer be found once its maker is gone, a waiter that had opened A's namespace
// and waited for its mutex would hold that mutex while C held a new one. Here whichever of B and
// C makes the namespace first holds the lock, and the other waits until it is released.
TEST(MarkerLockWinTest, TwoRunsNeverHoldTheLockAtOnceHoweverLongTheNamespaceLives) {
    for (ENamespaceLifetime eLifetime : {kLivesWhileOpen, kGoneWithMaker, kHiddenWithMaker}) {
        SCOPED_TRACE(eLifetime);
        SNamespaceSystem system;
        system.eLifetime = eLifetime;
        g_pSystem = &system;
        std::atomic<int> nHolders(0);
        std::atomic<int> nMostHolders(0);
        std::atomic<bool> bEndA(false);
        std::atomic<bool> bRelease(false);

        struct SRun {
            std::atomic<long> nStatus{-1};
            std::atomic<bool> bHolds{false};
            std::atomic<bool> bEnded{false};
            VHLOCK hLeft = nullptr;  // the lock of a run that ended without releasing it
        };
        // Takes the lock and holds it until told to release it; or, for A, until told to end
        // as its process would: the system closes its namespace handle, and its mutex is
        // abandoned with this thread.
        const auto Run = [&](SRun* pRun, bool bEnds) {
            VHLOCK hLock = nullptr;
            bool bAbandoned = false;
            pRun->nStatus = AcquireMarkerLockWith(kSystemCalls, 20000, &hLock, &bAbandoned);
            if (hLock != nullptr) {
                const int nNow = ++nHolders;
                int nMost = nMostHolders.load();
                while (nNow > nMost && !nMostHolders.compare_exchange_weak(nMost, nNow)) {
                }
                pRun->bHolds = true;
            }
            system.changed.Notify();
            if (hLock == nullptr)
                return;
            system.changed.WaitUntil([&] { return bEnds ? bEndA.load() : bRelease.load(); });
            pRun->bHolds = false;
            --nHolders;
            if (bEnds) {
                system.Close(t_hMade);
                pRun->hLeft = hLock;
            } else {
                ReleaseMarkerLockWith(kSystemCalls, hLock);
            }
            pRun->bEnded = true;
            system.changed.Notify();
        };
        // False when the condition does not come about, or two runs held the lock at once.
        const auto WaitFor = [&](const std::function<bool()>& condition) {
            return system.changed.WaitUntil([&] {
                return nMostHolders.load() > 1 || condition();
            }) && nMostHolders.load() <= 1;
        };
        const auto FailedCreates = [&] {
            std::lock_guard<std::mutex> lock(system.guard);
            return system.nFailedCreates;
        };

        SRun a, b, c;
        std::thread runA(Run, &a, true);
        std::thread runB;
        std::thread runC;
        HANDLE hOlderBuild = nullptr;
        bool bOk = WaitFor([&] { return a.bHolds.load(); });
        if (bOk) {
            runB = std::thread(Run, &b, false);
            bOk = WaitFor([&] { return FailedCreates() >= 1; });
        }
        if (bOk) {
            hOlderBuild = SystemOpenNamespace(nullptr, nullptr);
            bEndA = true;
            system.changed.Notify();
            bOk = WaitFor([&] { return a.bEnded.load(); });
        }
        if (bOk) {
            runC = std::thread(Run, &c, false);
            // With the older build's handle open only a namespace that is gone with its maker
            // can be made anew; whichever run does not make it keeps trying.
            const int nSeen = FailedCreates();
            bOk = WaitFor([&] {
                return FailedCreates() >= nSeen + 4 &&
                       (eLifetime != kGoneWithMaker || b.bHolds.load() || c.bHolds.load());
            });
            EXPECT_EQ(eLifetime == kGoneWithMaker ? 1 : 0, nHolders.load());
        }
        if (bOk) {
            SystemCloseNamespace(hOlderBuild, 0);
            hOlderBuild = nullptr;
            bOk = WaitFor([&] { return b.bHolds.load() || c.bHolds.load(); });
        }
        if (bOk) {
            const int nSeen = FailedCreates();
            bOk = WaitFor([&] { return FailedCreates() >= nSeen + 4; });
            EXPECT_NE(b.bHolds.load(), c.bHolds.load()) << "the other run waits";
        }
        EXPECT_TRUE(bOk);
        EXPECT_EQ(1, nMostHolders.load()) << "two runs held the lock at once";

        bEndA = true;
        bRelease = true;
        system.changed.Notify();
        for (std::thread* pRun : {&runA, &runB, &runC})
            if (pRun->joinable())
                pRun->join();
        if (hOlderBuild != nullptr)
            SystemCloseNamespace(hOlderBuild, 0);
        EXPECT_EQ(VERROR_SUCCESS, b.nStatus.load());
        EXPECT_EQ(VERROR_SUCCESS, c.nStatus.load());
        if (a.hLeft != nullptr)
            ReleaseMarkerLockWith(kSystemCalls, a.hLeft);  // its mutex is abandoned already
        EXPECT_TRUE(system.handles.empty());
        g_pSystem = nullptr;
    }
}

}  // namespace

#endif  // _WIN32

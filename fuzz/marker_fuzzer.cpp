// The installation marker read and the ID derivation on a scripted machine whose marker value has
// any type, any contents and any length, and whose registry may even misreport the value's size.
// The read must never look past its buffer (ASan watches the buffer on the stack), must take the
// text up to the first NUL of a usable REG_SZ value, and every derivation must give either an
// empty ID or 32 lowercase hexadecimal digits. The ID must be the one that a plain, honest
// registry holding that marker text gives, and a second derivation must give it again. A
// read-only derivation beforehand must give the same ID from a stored marker, or none, and
// must neither create the key nor write; a report must name a failed step exactly when the ID
// is empty. The machine's lock, random source, writes, key trust and key reset may fail as
// well; a renewal (RenewMarker) afterwards, for the machine's own ID, another or none, must
// write exactly when it says it renewed, keep the stored marker on every other answer, reset a
// loose key's security before it writes, and leave the new ID for the next derivation, also
// when one of its allocations fails.
#include <fuzzer/FuzzedDataProvider.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "identification/computer_id_text.h"
#include "identification/drive_id.h"
#include "tests/unit/failing_allocation.h"
#include "tests/unit/scripted_machine_facts.h"

namespace {

const std::uint32_t kReadBufferSize = 260;

#define EXPECT(condition)                                                                      \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "marker check failed: %s (line %d)\n", #condition, __LINE__); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (0)

// A registry whose stored value may answer with a size word of the fuzzer's choosing. Once the
// program has stored a value of its own, the registry answers honestly again.
class COddRegistry : public CScriptedMachineFacts {
public:
    bool m_bMisreportSize = false;
    std::uint32_t m_nReportedSize = 0;

    // What the last query left in the caller's buffer and words.
    std::string m_strLastBuffer;
    std::uint32_t m_nLastType = 0;
    std::uint32_t m_nLastSize = 0;
    long m_nLastStatus = 0;
    bool m_bQueried = false;
    // The last read met a REG_SZ value too long for the buffer: kept, never used, never replaced.
    bool m_bLastTooLong = false;

    long QueryKeyValue(VHKEY hKey, const char* pszName, std::uint32_t* pnType, unsigned char* pData,
                       std::uint32_t* pnSize) override {
        // The caller offers its whole buffer, zero-filled.
        EXPECT(*pnSize == kReadBufferSize);
        EXPECT(*pnType == 0);
        for (std::uint32_t i = 0; i < kReadBufferSize; ++i) {
            EXPECT(pData[i] == 0);
        }
        const long nStatus =
            CScriptedMachineFacts::QueryKeyValue(hKey, pszName, pnType, pData, pnSize);
        if (m_bMisreportSize && nStatus != 6) {
            *pnSize = m_nReportedSize;
        }
        m_strLastBuffer.assign(reinterpret_cast<const char*>(pData), kReadBufferSize);
        m_nLastType = *pnType;
        m_nLastSize = *pnSize;
        m_nLastStatus = nStatus;
        m_bQueried = true;
        return nStatus;
    }

    long SetKeyValue(VHKEY hKey, const char* pszName, std::uint32_t nType,
                     const unsigned char* pData, std::uint32_t nSize) override {
        // Only a value that was stored replaces the misreported one.
        const long nStatus = CScriptedMachineFacts::SetKeyValue(hKey, pszName, nType, pData, nSize);
        if (nStatus == VERROR_SUCCESS && !m_bSetIsLost) {
            m_bMisreportSize = false;
        }
        return nStatus;
    }
};

class CDriveIDProbe : public CDriveID {
public:
    CDriveIDProbe(CMachineFacts& machine, EMarkerAccess eAccess) : CDriveID(machine, eAccess) {}
    using CDriveID::ReadInstallMarker;
};

std::string TextOf(CVeltraneString text) {
    return text.GetText();
}

bool IsDigestText(const std::string& text) {
    return text.size() == 32 && text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

void ExpectDefinedID(const std::string& id) {
    EXPECT(id.empty() || IsDigestText(id));
}

void ExpectKeysClosed(const CScriptedMachineFacts& machine) {
    EXPECT(machine.m_openKeys.empty());
    EXPECT(machine.m_nBadCloses == 0);
}

std::uint32_t ValueType(FuzzedDataProvider& input) {
    static const std::uint32_t kTypes[] = {VREG_SZ, VREG_SZ,     VREG_SZ,    0,
                                           2,       VREG_BINARY, VREG_DWORD, 7};
    const size_t nPick =
        input.ConsumeIntegralInRange<size_t>(0, sizeof(kTypes) / sizeof(kTypes[0]));
    return nPick < sizeof(kTypes) / sizeof(kTypes[0]) ? kTypes[nPick]
                                                      : input.ConsumeIntegral<std::uint32_t>();
}

std::uint32_t ReportedSize(FuzzedDataProvider& input) {
    static const std::uint32_t kSizes[] = {0, 1, 31, 32, 33, 259, 260, 261, 0xFFFFFFFFu};
    const size_t nPick =
        input.ConsumeIntegralInRange<size_t>(0, sizeof(kSizes) / sizeof(kSizes[0]));
    return nPick < sizeof(kSizes) / sizeof(kSizes[0]) ? kSizes[nPick]
                                                      : input.ConsumeIntegral<std::uint32_t>();
}

// Value data: usually text-like (digits, letters, NULs), sometimes raw bytes; of any length up to
// well past the read buffer.
std::string ValueData(FuzzedDataProvider& input) {
    const size_t nLength = input.ConsumeIntegralInRange<size_t>(0, 1) == 0
                               ? input.ConsumeIntegralInRange<size_t>(0, 40)
                               : input.ConsumeIntegralInRange<size_t>(250, 400);
    const bool bRaw = input.ConsumeBool();
    std::string data;
    for (size_t i = 0; i < nLength && input.remaining_bytes() > 0; ++i) {
        const std::uint8_t b = input.ConsumeIntegral<std::uint8_t>();
        if (bRaw) {
            data.push_back(static_cast<char>(b));
        } else {
            static const char kText[] = "0123456789abcdefXYZ \\";
            data.push_back(b % 16 == 15 ? '\0' : kText[b % (sizeof(kText) - 1)]);
        }
    }
    return data;
}

// Facts other than the marker: usually the sound ones, sometimes odd or failing.
void ConfigureFacts(FuzzedDataProvider& input, CScriptedMachineFacts& machine) {
    machine.m_nCreationTime = 131961639070420000ULL;
    machine.m_nNow = 133753023300070000ULL;
    if (!input.ConsumeBool()) {
        return;
    }
    switch (input.ConsumeIntegralInRange<int>(0, 7)) {
        case 0:
            machine.m_strWindowsDirectory = input.ConsumeRandomLengthString(300);
            if (!machine.m_strWindowsDirectory.empty()) {
                machine.m_strRoot = std::string(1, machine.m_strWindowsDirectory[0]) + ":\\";
            }
            break;
        case 1:
            machine.m_bVolumeFails = true;
            break;
        case 2:
            machine.m_nSerialNumber = input.ConsumeIntegral<std::uint32_t>();
            machine.m_strFileSystem = input.ConsumeRandomLengthString(300);
            break;
        case 3:
            machine.m_chFileSystemFill =
                static_cast<char>(input.ConsumeIntegralInRange<int>(1, 255));
            break;
        case 4:
            machine.m_bCreationTimeFails = true;
            break;
        case 5:
            machine.m_nCreationTime = input.ConsumeIntegral<VFILETIME>();
            break;
        case 6:
            machine.m_nNow = input.ConsumeIntegral<VFILETIME>();
            break;
        default:
            machine.m_unconvertibleTimes.insert(machine.m_nNow);
            break;
    }
}

void ConfigureRegistry(FuzzedDataProvider& input, COddRegistry& machine) {
    switch (input.ConsumeIntegralInRange<int>(0, 9)) {
        case 0:
            break;  // no key
        case 1:
            machine.m_bKeyExists = true;  // a key without the value
            break;
        case 2:
            machine.m_nOpenStatus = VERROR_ACCESS_DENIED;
            machine.m_nCreateStatus = input.ConsumeBool() ? VERROR_ACCESS_DENIED : VERROR_SUCCESS;
            break;
        case 3:
            machine.m_bCreateYieldsNullKey = true;
            break;
        case 4:
            // A key that this user may only read.
            machine.m_bKeyReadOnly = true;
            machine.SetMarker(ValueType(input), ValueData(input));
            break;
        default:
            machine.SetMarker(ValueType(input), ValueData(input));
            break;
    }
    if (input.ConsumeIntegralInRange<int>(0, 3) == 0) {
        machine.m_bMisreportSize = true;
        machine.m_nReportedSize = ReportedSize(input);
    }
    machine.m_bSetIsLost = input.ConsumeIntegralInRange<int>(0, 7) == 0;
}

// The marker lock, the random source, the writes and the key's security: usually sound.
void ConfigureFailures(FuzzedDataProvider& input, COddRegistry& machine) {
    if (input.ConsumeIntegralInRange<int>(0, 3) != 0)
        return;
    static const long kLockStatuses[] = {VERROR_WAIT_TIMEOUT, VERROR_ACCESS_DENIED, 127, 698, 1359};
    const std::uint8_t nBits = input.ConsumeIntegral<std::uint8_t>();
    if (nBits & 1)
        machine.m_nLockStatus = kLockStatuses[input.ConsumeIntegralInRange<int>(0, 4)];
    if (nBits & 2)
        machine.m_bLockAbandoned = true;
    if (nBits & 4)
        machine.m_bRandomFails = true;
    if (nBits & 8)
        machine.m_nSetStatus = input.ConsumeBool() ? VERROR_ACCESS_DENIED : 1018;
    if (nBits & 16)
        machine.m_nDeleteStatus = input.ConsumeBool() ? VERROR_ACCESS_DENIED : 1307;
    if (nBits & 32)
        machine.m_bUserKeyExists = true;
    machine.m_eKeyTrust = static_cast<EKeyTrust>(input.ConsumeIntegralInRange<int>(0, 3));
}

// The ID of a machine with the same facts and a plain REG_SZ marker holding exactly strMarker.
std::string HonestID(const CScriptedMachineFacts& facts, const std::string& strMarker) {
    CScriptedMachineFacts honest;
    honest.m_strWindowsDirectory = facts.m_strWindowsDirectory;
    honest.m_strRoot = facts.m_strRoot;
    honest.m_bVolumeFails = facts.m_bVolumeFails;
    honest.m_nSerialNumber = facts.m_nSerialNumber;
    honest.m_strFileSystem = facts.m_strFileSystem;
    honest.m_chFileSystemFill = facts.m_chFileSystemFill;
    honest.m_bCreationTimeFails = facts.m_bCreationTimeFails;
    honest.m_nCreationTime = facts.m_nCreationTime;
    honest.m_nNow = facts.m_nNow;
    honest.m_unconvertibleTimes = facts.m_unconvertibleTimes;
    honest.SetMarker(VREG_SZ, strMarker);
    CDriveID driveID(honest);
    const std::string id = TextOf(driveID.GetID());
    EXPECT(honest.m_writes.empty());
    ExpectKeysClosed(honest);
    return id;
}

// The read alone: the text up to the first NUL of a usable REG_SZ value, all 260 bytes when
// there is no NUL in them, and nothing for a value that did not fit.
std::string CheckMarkerRead(COddRegistry& machine, EMarkerAccess eAccess) {
    machine.m_bQueried = false;
    machine.m_bLastTooLong = false;
    const size_t nWrites = machine.m_writes.size();
    CDriveIDProbe probe(machine, eAccess);
    const std::string marker = TextOf(probe.ReadInstallMarker());
    ExpectKeysClosed(machine);
    EXPECT(machine.m_writes.size() == nWrites);
    if (!machine.m_bQueried) {
        EXPECT(marker.empty());
        return marker;
    }
    const std::string& buffer = machine.m_strLastBuffer;
    const std::string text = buffer.substr(0, buffer.find('\0'));
    const bool bUsable =
        machine.m_nLastSize > 0 && machine.m_nLastType == VREG_SZ && buffer[0] != '\0';
    machine.m_bLastTooLong =
        machine.m_nLastType == VREG_SZ &&
        (machine.m_nLastStatus == VERROR_MORE_DATA ||
         (machine.m_nLastStatus == VERROR_SUCCESS && machine.m_nLastSize > kReadBufferSize));
    if (!bUsable || machine.m_bLastTooLong) {
        EXPECT(marker.empty());
    } else if (machine.m_nLastSize <= kReadBufferSize) {
        EXPECT(marker == text);
    } else {
        // A size beyond the buffer: either reading is sound, as long as it stays inside.
        EXPECT(marker.empty() || marker == text);
    }
    return marker;
}

void ExpectReportMatches(const CDriveIDReport& report, const std::string& id) {
    EXPECT(id.empty() == (report.eFailedStep != kStepNone));
    EXPECT(id.empty() || report.nStatus == 0);
    EXPECT(GetMarkerStateName(report.eMarker) != nullptr);
}

// A read-only derivation: the stored marker's ID or none, and nothing created or written.
void CheckReadOnly(COddRegistry& machine) {
    const std::string marker = CheckMarkerRead(machine, kMarkerReadOnly);
    const size_t nWrites = machine.m_writes.size();
    const int nCreates = machine.m_nCreateCalls;
    const bool bKeyExisted = machine.m_bKeyExists;
    CDriveID driveID(machine, kMarkerReadOnly);
    CDriveIDReport report;
    const std::string id = TextOf(driveID.GetID(&report));
    ExpectDefinedID(id);
    ExpectKeysClosed(machine);
    ExpectReportMatches(report, id);
    EXPECT(machine.m_writes.size() == nWrites);
    EXPECT(machine.m_nCreateCalls == nCreates);
    EXPECT(machine.m_bKeyExists == bKeyExisted);
    EXPECT(marker.empty() ? id.empty() : id == HonestID(machine, marker));
    EXPECT(id.empty() || report.eMarker == kMarkerPresent);
}

// One derivation, judged by the marker that was there before it and by what it wrote. With
// bReport, the same derivation fills a report as well.
std::string CheckDerivation(COddRegistry& machine, bool bReport) {
    const std::string marker = CheckMarkerRead(machine, kMarkerReadWrite);
    const size_t nWrites = machine.m_writes.size();
    CDriveID driveID(machine);
    CDriveIDReport report;
    const std::string id = TextOf(bReport ? driveID.GetID(&report) : driveID.GetID());
    ExpectDefinedID(id);
    ExpectKeysClosed(machine);
    if (bReport) {
        ExpectReportMatches(report, id);
    }
    if (machine.m_bLastTooLong) {
        // A value too long to use is someone's: kept, and no ID from it.
        EXPECT(machine.m_writes.size() == nWrites);
        EXPECT(id.empty());
    } else if (!marker.empty()) {
        // An existing marker is used as it is and never replaced.
        EXPECT(machine.m_writes.size() == nWrites);
        EXPECT(id == HonestID(machine, marker));
    } else if (machine.m_writes.size() > nWrites) {
        EXPECT(machine.m_writes.size() == nWrites + 1);
        const CScriptedMachineFacts::SWrite& written = machine.m_writes.back();
        EXPECT(written.strName == "Rndund");
        EXPECT(written.nType == VREG_SZ);
        EXPECT(written.strData.empty() || IsDigestText(written.strData));
        // A lost write, an empty marker or a key that cannot be opened to read it back: no ID.
        if (machine.m_bSetIsLost || written.strData.empty() ||
            machine.m_nOpenStatus != VERROR_SUCCESS) {
            EXPECT(id.empty());
        } else {
            EXPECT(id == HonestID(machine, written.strData));
        }
    } else {
        EXPECT(id.empty());
    }
    return id;
}

// A renewal for the ID a read-only derivation gives now (in either case), another ID, or none.
void CheckRenewal(FuzzedDataProvider& input, COddRegistry& machine) {
    CDriveID reader(machine, kMarkerReadOnly);
    const std::string now = TextOf(reader.GetID());
    std::string given;
    switch (input.ConsumeIntegralInRange<int>(0, 3)) {
        case 0:
            given = now;
            break;
        case 1:
            given = now;
            for (char& c : given)
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            break;
        case 2:
            given = std::string(32, 'f');
            break;
        default:
            break;  // none
    }
    const bool bNone = given.empty();
    const bool bWithReport = input.ConsumeIntegralInRange<int>(0, 3) != 0;
    const bool bValueBefore = machine.m_bValueExists;
    const std::uint32_t nTypeBefore = machine.m_nValueType;
    const std::string valueBefore = machine.m_strValueData;
    const EKeyTrust eTrustBefore = machine.m_eKeyTrust;
    const bool bKeyBefore = machine.m_bKeyExists;
    const std::size_t nWrites = machine.m_writes.size();
    const std::size_t nCalls = machine.m_calls.size();

    // One allocation may fail on the way: every answer below must hold all the same.
    const int nFailIn = input.ConsumeBool() ? input.ConsumeIntegralInRange<int>(0, 80) : -1;

    CDriveID driveID(machine);
    CVeltraneString strBefore;
    CVeltraneString strAfter;
    CDriveIDReport report;
    g_nFailIn = nFailIn;
    const CDriveID::ERenewal eRenewal = driveID.RenewMarker(
        bNone ? nullptr : given.c_str(), strBefore, strAfter, bWithReport ? &report : nullptr);
    g_nFailIn = -1;
    const std::string before = TextOf(strBefore);
    const std::string after = TextOf(strAfter);
    ExpectKeysClosed(machine);
    EXPECT(!machine.IsLockHeld());
    EXPECT(machine.m_nBadLockCalls == 0);
    ExpectDefinedID(before);
    ExpectDefinedID(after);
    // The first derivation under the lock reads what the read-only one read, unless this
    // account may only read the key.
    EXPECT(before.empty() || before == now);
    if (machine.m_nLockStatus != VERROR_SUCCESS) {
        EXPECT(eRenewal == CDriveID::kRenewFailed);
        EXPECT(!bWithReport ||
               (report.eFailedStep == kStepMarkerLock && report.nStatus == machine.m_nLockStatus));
    }

    const bool bWrote = machine.m_writes.size() > nWrites;
    EXPECT(machine.m_writes.size() <= nWrites + 1);
    switch (eRenewal) {
        case CDriveID::kRenewed: {
            EXPECT(bWrote);
            const CScriptedMachineFacts::SWrite& written = machine.m_writes.back();
            EXPECT(written.strName == "Rndund" && written.nType == VREG_SZ);
            EXPECT(IsDigestText(written.strData));
            EXPECT(machine.m_bValueExists && machine.m_strValueData == written.strData);
            EXPECT(!after.empty() && after != before);
            EXPECT(after == HonestID(machine, written.strData));
            EXPECT(bNone ? now.empty() : IsSameComputerID(before.c_str(), given.c_str()));
            EXPECT(!bWithReport || report.eFailedStep == kStepNone);
            // A loose key that was there gets the security of a new key before the marker.
            const bool bLoose = eTrustBefore == kKeyLooseDacl || eTrustBefore == kKeyForeignOwner;
            bool bReset = false;
            bool bResetFirst = false;
            for (std::size_t i = nCalls; i < machine.m_calls.size(); ++i) {
                if (machine.m_calls[i] == "DeleteClassesKey lrgDocID")
                    bReset = true;
                if (machine.m_calls[i].compare(0, 18, "SetKeyValue Rndund") == 0) {
                    bResetFirst = bReset;
                    break;
                }
            }
            if (bWithReport && bLoose && bKeyBefore) {
                EXPECT(bResetFirst);
                EXPECT(
                    report.eKeyRepair ==
                    (machine.m_nDeleteStatus == VERROR_SUCCESS ? kKeyRepaired : kKeyRepairFailed));
            }
            if (!bLoose)
                EXPECT(!bReset);
            // The next derivation gives the new ID.
            CDriveID next(machine, kMarkerReadOnly);
            EXPECT(TextOf(next.GetID()) == after);
            break;
        }
        case CDriveID::kRenewedUnread:
            EXPECT(bWrote);
            EXPECT(after.empty());
            EXPECT(!bWithReport || report.eFailedStep != kStepNone);
            break;
        case CDriveID::kRenewNotCurrent:
        case CDriveID::kRenewFailed: {
            // The stored marker stays: nothing was written, or the write did not take; unless a
            // loose key was deleted first (and then perhaps not made anew, which the report says).
            bool bDeleted = false;
            for (std::size_t i = nCalls; i < machine.m_calls.size(); ++i)
                bDeleted |= machine.m_calls[i] == "DeleteClassesKey lrgDocID" &&
                            machine.m_nDeleteStatus == VERROR_SUCCESS;
            EXPECT(after.empty());
            EXPECT(!bWithReport || !report.bKeyDeleted || (bDeleted && !machine.m_bValueExists));
            EXPECT(bDeleted || machine.m_bValueExists == bValueBefore);
            EXPECT(bDeleted || !bValueBefore ||
                   (machine.m_nValueType == nTypeBefore && machine.m_strValueData == valueBefore));
            if (eRenewal == CDriveID::kRenewNotCurrent) {
                EXPECT(!bWrote);
                // None given: a marker is stored (whether or not the facts gave an ID with it).
                EXPECT(bNone ? bValueBefore
                             : before.empty() || !IsSameComputerID(before.c_str(), given.c_str()));
            } else {
                EXPECT(!bWithReport || report.eFailedStep != kStepNone);
            }
            break;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    FuzzedDataProvider input(pData, nSize);
    COddRegistry machine;
    ConfigureFacts(input, machine);
    ConfigureRegistry(input, machine);
    ConfigureFailures(input, machine);

    CheckReadOnly(machine);
    const std::string first = CheckDerivation(machine, false);
    const std::string second = CheckDerivation(machine, true);
    // Once derived, the ID stays. (An empty one may still be followed by an ID: a create that
    // reported success without a key leaves the key behind for the next run to write into.)
    EXPECT(first.empty() || first == second);
    CheckRenewal(input, machine);
    return 0;
}

#include "cli/id_output.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "cli/json_text.h"
#include "idrovan_version.h"
#include "tests/unit/json_capture.h"

namespace {

const char kID[] = "1d7f953db6e0a9ab13df78aa1db9f3b8";
const char kRootText[] = "Monday March 04 2019 (03_04_2019) 09:05:07:42";
// Fingerprints computed independently with Python's hmac (the formula is in
// identification/fact_fingerprint.h): kRootText as root_created, "C0FFEENTFS" as volume.
const char kRootFingerprint[] = "1f1";
const char kVolumeFingerprint[] = "21f";

class CTableMessages : public CStatusMessages {
public:
    void AppendStatusText(long nStatus, CTextBuilder* pText) override {
        auto it = m_texts.find(nStatus);
        if (it != m_texts.end())
            pText->Append(it->second.c_str());
    }
    std::string Text(long nStatus) {
        auto it = m_texts.find(nStatus);
        return it == m_texts.end() ? std::string() : it->second;
    }
    std::map<long, std::string> m_texts = {{2, "The system cannot find the file specified"},
                                           {5, "Access is denied"}};
};

CDerivation Failed(EDriveIDStep eStep, long nStatus, EMarkerAccess eAccess) {
    CDerivation derivation;
    derivation.eAccess = eAccess;
    derivation.report.eFailedStep = eStep;
    derivation.report.nStatus = nStatus;
    return derivation;
}

CDerivation Succeeded(const char* pszID) {
    CDerivation derivation;
    std::strcpy(derivation.szID, pszID);
    return derivation;
}

// As the console program does it: the facts are fingerprinted before they are shown.
std::string Json(CDerivation derivation, CStatusMessages& messages) {
    AddFactFingerprints(&derivation);
    CTextBuilder out;
    FormatJson(derivation, messages, &out);
    CaptureJsonOutput(out.GetText());
    return out.GetText();
}

std::string Explanation(CDerivation derivation, CStatusMessages& messages) {
    AddFactFingerprints(&derivation);
    CTextBuilder out;
    FormatExplanation(derivation, messages, &out);
    return out.GetText();
}

std::string Failure(const CDerivation& derivation, CStatusMessages& messages) {
    CTextBuilder out;
    FormatFailure(derivation, messages, &out);
    return out.GetText();
}

std::string Quoted(const std::string& strText) {
    CTextBuilder out;
    AppendJsonString(strText.c_str(), &out);
    return out.GetText();
}

std::string Printable(const std::string& strText) {
    CTextBuilder out;
    AppendPrintableText(strText.c_str(), &out);
    return out.GetText();
}

bool IsAscii(const std::string& strText) {
    for (char c : strText) {
        if (static_cast<unsigned char>(c) > 0x7E ||
            (static_cast<unsigned char>(c) < 0x20 && c != '\n'))
            return false;
    }
    return true;
}

TEST(CliOutput, ExitCodeAndJsonErrorOfEveryKindOfOutcome) {
    struct SCase {
        EDriveIDStep eStep;
        long nStatus;
        EMarkerAccess eAccess;
        ECliExitCode eExit;
        const char* pszStep;  // the step's name in the JSON error; null for none
    };
    const SCase cases[] = {
        // No rights to the marker, in either mode.
        {kStepMarkerKey, 5, kMarkerReadWrite, kExitNoRights, "marker_key"},
        {kStepMarkerKey, 5, kMarkerReadOnly, kExitNoRights, "marker_key"},
        {kStepMarkerValue, 5, kMarkerReadOnly, kExitNoRights, "marker_value"},
        {kStepMarkerWrite, 5, kMarkerReadWrite, kExitNoRights, "marker_write"},
        // The lock refuses every account without administrator rights.
        {kStepMarkerLock, 5, kMarkerReadWrite, kExitNoRights, "marker_lock"},
        // No marker where the mode may not write one.
        {kStepMarkerKey, 2, kMarkerReadOnly, kExitNoMarker, "marker_key"},
        {kStepMarkerValue, 2, kMarkerReadOnly, kExitNoMarker, "marker_value"},
        // The same statuses where the program could have written one are failures.
        {kStepMarkerKey, 2, kMarkerReadWrite, kExitFailure, "marker_key"},
        {kStepMarkerValue, 2, kMarkerReadWrite, kExitFailure, "marker_value"},
        {kStepMarkerWrite, 0, kMarkerReadWrite, kExitFailure, "marker_write"},
        {kStepMarkerKey, 1018, kMarkerReadOnly, kExitFailure, "marker_key"},
        // Machine facts, even when their status is "access denied" or "not found".
        {kStepWindowsDirectory, 0, kMarkerReadWrite, kExitFailure, "windows_directory"},
        {kStepVolume, 5, kMarkerReadWrite, kExitFailure, "volume"},
        {kStepVolume, 21, kMarkerReadOnly, kExitFailure, "volume"},
        {kStepRootCreation, 2, kMarkerReadOnly, kExitFailure, "root_created"},
        {kStepMemory, 8, kMarkerReadWrite, kExitFailure, "memory"},
        // Otherwise the marker lock and the random source fail the run.
        {kStepMarkerLock, 258, kMarkerReadWrite, kExitFailure, "marker_lock"},
        {kStepMarkerRandom, 0, kMarkerReadWrite, kExitFailure, "marker_random"},
        // No ID and no failed step is still no answer.
        {kStepNone, 0, kMarkerReadWrite, kExitFailure, nullptr},
    };
    CTableMessages messages;
    for (const SCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.eStep) + " status " + std::to_string(c.nStatus) +
                     (c.eAccess == kMarkerReadOnly ? " read-only" : " read-write"));
        const CDerivation derivation = Failed(c.eStep, c.nStatus, c.eAccess);
        EXPECT_EQ(c.eExit, GetExitCode(derivation));

        const std::string strJson = Json(derivation, messages);
        std::string strMessage = messages.Text(c.nStatus);
        // The lock's refusal says what it is and what to do, not just "Access is denied".
        if (c.eStep == kStepMarkerLock && c.nStatus == 5)
            strMessage +=
                ": the marker lock admits administrators only, so no marker was "
                "written; run as administrator once (idrovan-cli --first-run asks for "
                "it)";
        const std::string strError =
            "\"error\":{\"step\":" + (c.pszStep ? "\"" + std::string(c.pszStep) + "\"" : "null") +
            ",\"code\":" + std::to_string(c.nStatus) +
            ",\"message\":" + (strMessage.empty() ? "null" : "\"" + strMessage + "\"") + "}}\n";
        EXPECT_NE(std::string::npos, strJson.find(strError)) << strJson;
        EXPECT_EQ(0u, strJson.find("{\"id\":null,\"marker\":\"missing\",")) << strJson;

        const std::string strFailure = Failure(derivation, messages);
        EXPECT_EQ(0u, strFailure.find("idrovan-cli: ")) << strFailure;
        EXPECT_EQ(strFailure.size() - 1, strFailure.find('\n')) << strFailure;
    }

    CDerivation success = Succeeded(kID);
    success.report.eFailedStep = kStepMarkerKey;  // a report at odds with the ID changes nothing
    EXPECT_EQ(kExitSuccess, GetExitCode(success));
}

TEST(CliOutput, JsonOfAnIDAndOfAFailure) {
    CTableMessages messages;
    CDerivation success = Succeeded(kID);
    success.report.strRootCreation = kRootText;
    success.report.strVolume = "C0FFEENTFS";
    success.report.eMarker = kMarkerCreated;
    EXPECT_EQ(std::string("{\"id\":\"") + kID +
                  "\",\"marker\":\"created\",\"marker_key\":null,\"root_created_fingerprint\":\"" +
                  kRootFingerprint + "\",\"volume_fingerprint\":\"" + kVolumeFingerprint +
                  "\",\"format\":2,\"version\":\"" IDROVAN_VERSION_TEXT "\",\"error\":null}\n",
              Json(success, messages));

    CDerivation failure = Failed(kStepVolume, 1005, kMarkerReadWrite);
    failure.report.strRootCreation = kRootText;
    failure.report.eMarker = kMarkerPresent;
    messages.m_texts[1005] = "The volume does not contain a recognized file system";
    EXPECT_EQ(std::string("{\"id\":null,\"marker\":\"present\",\"marker_key\":null,"
                          "\"root_created_fingerprint\":\"") +
                  kRootFingerprint +
                  "\",\"volume_fingerprint\":null,\"format\":2,\"version\":\"" IDROVAN_VERSION_TEXT
                  "\",\"error\":"
                  "{\"step\":\"volume\",\"code\":1005,\"message\":\"The volume does not contain a "
                  "recognized file system\"}}\n",
              Json(failure, messages));
}

// File-system names and system texts may hold any byte; the JSON stays ASCII and parses.
TEST(CliOutput, JsonAndLineEscapingOfOddNames) {
    struct SCase {
        std::string strText;
        const char* pszJson;
        const char* pszLine;
    };
    const SCase cases[] = {
        {"NTFS", "\"NTFS\"", "NTFS"},
        {"FAT\"32\"", "\"FAT\\\"32\\\"\"", "FAT\"32\""},
        {"a\\b/c", "\"a\\\\b/c\"", "a\\x5cb/c"},
        {"\b\f\n\r\t", "\"\\b\\f\\n\\r\\t\"", "\\x08\\x0c\\x0a\\x0d\\x09"},
        {std::string("\x01\x1f\x7f", 3), "\"\\u0001\\u001f\\u007f\"", "\\x01\\x1f\\x7f"},
        {"\x80\xE9\xFF", "\"\\u0080\\u00e9\\u00ff\"", "\\x80\\xe9\\xff"},
        {"\xC3\xA9t\xC3\xA9", "\"\\u00c3\\u00a9t\\u00c3\\u00a9\"", "\\xc3\\xa9t\\xc3\\xa9"},
        {"", "\"\"", ""},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.pszJson);
        EXPECT_EQ(c.pszJson, Quoted(c.strText));
        EXPECT_EQ(c.pszLine, Printable(c.strText));
    }

    // Through the whole object: a volume text with a file-system name of odd bytes is shown by
    // its fingerprint (Python's hmac over the same bytes), never in any escaped form.
    CDerivation derivation = Succeeded(kID);
    derivation.report.strVolume = "5A3C00F1N\"T\\F\x01S\xE9";
    CTableMessages messages;
    const std::string strJson = Json(derivation, messages);
    EXPECT_NE(std::string::npos, strJson.find("\"volume_fingerprint\":\"25a\"")) << strJson;
    const std::string strLines = Explanation(derivation, messages);
    EXPECT_NE(std::string::npos, strLines.find("Volume:       fingerprint 25a\n")) << strLines;
    for (const std::string& strText : {strJson, strLines}) {
        EXPECT_TRUE(IsAscii(strText)) << strText;
        EXPECT_EQ(std::string::npos, strText.find("5A3C00F1")) << strText;
    }
}

TEST(CliOutput, ExplanationOfAnIDAndOfAFailure) {
    CTableMessages messages;
    CDerivation success = Succeeded(kID);
    success.report.strRootCreation = kRootText;
    success.report.strVolume = "C0FFEENTFS";
    success.report.eMarker = kMarkerPresent;
    EXPECT_EQ(std::string("Root created: fingerprint ") + kRootFingerprint +
                  "\n"
                  "Volume:       fingerprint " +
                  kVolumeFingerprint +
                  "\n"
                  "Marker:       present\n"
                  "ID:           " +
                  kID + "\n",
              Explanation(success, messages));

    CDerivation failure = Failed(kStepMarkerValue, 2, kMarkerReadOnly);
    failure.report.strRootCreation = kRootText;
    failure.report.strVolume = "C0FFEENTFS";
    failure.report.nMarkerLength = 300;
    EXPECT_EQ(std::string("Root created: fingerprint ") + kRootFingerprint +
                  "\n"
                  "Volume:       fingerprint " +
                  kVolumeFingerprint +
                  "\n"
                  "Marker:       missing (a stored value of 300 bytes is not usable)\n"
                  "ID:           none\n"
                  "Failed step:  marker_value: the marker key holds no usable marker\n"
                  "Status:       status 2: The system cannot find the file specified\n",
              Explanation(failure, messages));

    CDerivation noStatus = Failed(kStepWindowsDirectory, 0, kMarkerReadWrite);
    EXPECT_EQ(
        "Root created: (not read)\n"
        "Volume:       (not read)\n"
        "Marker:       missing\n"
        "ID:           none\n"
        "Failed step:  windows_directory: the Windows directory, and so the system drive, could "
        "not be read\n"
        "Status:       no status\n",
        Explanation(noStatus, messages));
}

TEST(CliOutput, FailureLinesSayWhatToDo) {
    CTableMessages messages;
    // Each names the machine's key, which is the one read, and sends a user where an answer is:
    // never to --no-write, which without a marker only exits 4.
    EXPECT_EQ(
        "idrovan-cli: no rights to the marker key HKEY_LOCAL_MACHINE\\Software\\Classes\\lrgDocID "
        "(status 5: Access is denied); making the installation marker needs an administrator: "
        "run as administrator once (idrovan-cli --first-run asks for it)\n",
        Failure(Failed(kStepMarkerKey, 5, kMarkerReadWrite), messages));
    EXPECT_EQ(
        "idrovan-cli: no rights to the marker key HKEY_LOCAL_MACHINE\\Software\\Classes\\lrgDocID "
        "(status 5: Access is denied)\n",
        Failure(Failed(kStepMarkerKey, 5, kMarkerReadOnly), messages));
    // A standard user, or an administrator whose token is not elevated, at the lock.
    EXPECT_EQ(
        "idrovan-cli: the marker lock admits administrators only, so no marker was written "
        "(status 5: Access is denied); run as administrator once (idrovan-cli --first-run asks "
        "for it)\n",
        Failure(Failed(kStepMarkerLock, 5, kMarkerReadWrite), messages));
    EXPECT_EQ(
        "idrovan-cli: there is no installation marker yet, and a read-only run does not write "
        "one; an administrator must run idrovan-cli once to make it: idrovan-cli --first-run "
        "from any console asks for elevation\n",
        Failure(Failed(kStepMarkerKey, 2, kMarkerReadOnly), messages));
    EXPECT_EQ(
        "idrovan-cli: the creation time of the system drive's root directory could not be read "
        "(status 1117)\n",
        Failure(Failed(kStepRootCreation, 1117, kMarkerReadWrite), messages));
    // A system text is made printable before it is shown.
    messages.m_texts[21] = "Ger\xE4t nicht bereit";
    EXPECT_EQ(
        "idrovan-cli: the system volume's serial number and file system could not be read "
        "(status 21: Ger\\xe4t nicht bereit)\n",
        Failure(Failed(kStepVolume, 21, kMarkerReadWrite), messages));
}

TEST(CliOutput, TextBuilderNumbersBytesAndGrowth) {
    const struct {
        long nNumber;
        const char* pszText;
    } numbers[] = {{0, "0"},           {7, "7"}, {-5, "-5"}, {1005, "1005"}, {LONG_MAX, nullptr},
                   {LONG_MIN, nullptr}};
    for (const auto& number : numbers) {
        CTextBuilder text;
        text.AppendNumber(number.nNumber);
        EXPECT_EQ(number.pszText ? number.pszText : std::to_string(number.nNumber), text.GetText());
    }
    CTextBuilder text;
    EXPECT_STREQ("", text.GetText());
    std::string strExpected;
    for (int i = 0; i < 300; ++i) {
        text.AppendHexByte("\\x", static_cast<unsigned char>(i));
        text.Append("");
        text.Append(nullptr);
        char szByte[8];
        std::snprintf(szByte, sizeof(szByte), "\\x%02x", i & 0xFF);
        strExpected += szByte;
    }
    EXPECT_EQ(strExpected, text.GetText());
    EXPECT_EQ(strExpected.size(), text.GetLength());
    EXPECT_TRUE(text.IsComplete());
}

}  // namespace

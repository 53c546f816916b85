#include "cli/licence_command.h"

#include <cstring>
#include <vector>

#include "api/library_calls.h"
#include "cli/command_line.h"
#include "cli/id_output.h"
#include "cli/json_text.h"
#include "identification/application_id.h"
#include "idrovan_version.h"

namespace {

const char kLicenceOption[] = "--verify-licence";

bool IsPrintableAscii(const char* pszText) {
    for (const char* p = pszText; *p != '\0'; ++p) {
        if (static_cast<unsigned char>(*p) < 0x20 || static_cast<unsigned char>(*p) > 0x7E)
            return false;
    }
    return true;
}

bool Fail(CTextBuilder* pError, const char* pszOption, const char* pszProblem) {
    pError->Append(pszOption);
    pError->Append(pszProblem);
    return false;
}

// The short name of each result, for JSON and for the first word of the text.
const char* ResultName(int nResult) {
    switch (nResult) {
        case IDROVAN_OK:
            return "valid";
        case IDROVAN_NO_MATCH:
            return "no_match";
        case IDROVAN_BAD_ARGUMENT:
            return "bad_argument";
        case IDROVAN_NO_RIGHTS:
            return "no_rights";
        case IDROVAN_NO_MARKER:
            return "no_marker";
        case IDROVAN_MALFORMED:
            return "malformed";
        case IDROVAN_NOT_SIGNED:
            return "not_signed";
        case IDROVAN_NOT_YET_VALID:
            return "not_yet_valid";
        case IDROVAN_EXPIRED:
            return "expired";
        case IDROVAN_NO_FEATURE:
            return "no_feature";
        default:
            return "failure";
    }
}

// The whole file, at most one byte over the largest licence.
bool ReadLicence(const char* pszFile, CReportFile& file, std::vector<char>* pText,
                 CConsoleOutput* pOutput) {
    CTextBuilder why;
    if (IsDeviceName(pszFile)) {
        pOutput->err.Append("idrovan-cli: the licence must be a file, not a device\n");
        return false;
    }
    if (!file.Open(pszFile, &why) || !file.IsDiskFile()) {
        pOutput->err.Append("idrovan-cli: cannot read the licence: ");
        pOutput->err.Append(why.GetText() != nullptr && why.GetText()[0] != '\0'
                                ? why.GetText()
                                : "not a file on a disk");
        pOutput->err.Append('\n');
        file.Close();
        return false;
    }
    pText->assign(IDROVAN_MAX_LICENCE + 1, '\0');
    std::size_t nTotal = 0;
    for (;;) {
        std::size_t nRead = 0;
        if (!file.Read(pText->data() + nTotal, pText->size() - nTotal, &nRead)) {
            file.Close();
            pOutput->err.Append("idrovan-cli: cannot read the licence\n");
            return false;
        }
        nTotal += nRead;
        if (nRead == 0 || nTotal == pText->size())
            break;
    }
    file.Close();
    pText->resize(nTotal);
    return true;
}

void AppendField(const char* pszName, const char* pszValue, bool bLast, CTextBuilder* pOut) {
    pOut->Append("\"");
    pOut->Append(pszName);
    pOut->Append("\":");
    AppendJsonUtf8String(pszValue, pOut);
    if (!bLast)
        pOut->Append(',');
}

void FormatJson(int nResult, const idrovan_licence_info& info, CTextBuilder* pOut) {
    pOut->Append("{\"result\":\"");
    pOut->Append(ResultName(nResult));
    pOut->Append("\",\"code\":");
    pOut->AppendNumber(nResult);
    pOut->Append(",\"message\":");
    AppendJsonString(GetResultText(nResult), pOut);
    pOut->Append(",\"licence\":");
    if (info.key_id[0] == '\0') {
        // Nothing of a licence whose signature did not verify is shown.
        pOut->Append("null");
    } else {
        pOut->Append('{');
        AppendField("licence_id", info.licence_id, false, pOut);
        AppendField("key_id", info.key_id, false, pOut);
        AppendField("product", info.product, false, pOut);
        AppendField("licensee", info.licensee, false, pOut);
        AppendField("application_id", info.application_id, false, pOut);
        AppendField("features", info.features, false, pOut);
        AppendField("issued", info.issued, false, pOut);
        AppendField("not_before", info.not_before, false, pOut);
        AppendField("not_after", info.not_after, false, pOut);
        AppendField("renew_after", info.renew_after, false, pOut);
        pOut->Append("\"renewal_due\":");
        pOut->Append(info.renewal_due ? "true" : "false");
        pOut->Append('}');
    }
    pOut->Append(",\"version\":\"" IDROVAN_VERSION_TEXT "\"}\n");
}

void FormatText(int nResult, const idrovan_licence_info& info, CTextBuilder* pOut) {
    pOut->Append("Licence: ");
    pOut->Append(GetResultText(nResult));
    pOut->Append(" (");
    pOut->AppendNumber(nResult);
    pOut->Append(")\n");
    if (info.key_id[0] == '\0')
        return;
    const char* const names[] = {"licence-id",     "key-id",     "product", "licensee",
                                 "application-id", "features",   "issued",  "not-before",
                                 "not-after",      "renew-after"};
    const char* const values[] = {
        info.licence_id, info.key_id, info.product,    info.licensee,  info.application_id,
        info.features,   info.issued, info.not_before, info.not_after, info.renew_after};
    for (std::size_t i = 0; i < sizeof(names) / sizeof(names[0]); ++i) {
        if (values[i][0] == '\0')
            continue;
        pOut->Append("  ");
        pOut->Append(names[i]);
        pOut->Append(": ");
        AppendPrintableText(values[i], pOut);
        pOut->Append('\n');
    }
    if (info.renewal_due)
        pOut->Append("  renewal is due: ask the vendor's server for a new licence\n");
}

}  // namespace

bool IsLicenceCommandLine(int nCount, const char* const* ppArguments) {
    for (int i = 0; i < nCount; ++i) {
        if (IsOption(ppArguments[i], kLicenceOption))
            return true;
    }
    return false;
}

bool ParseLicenceCommandLine(int nCount, const char* const* ppArguments, CLicenceCommandLine* pLine,
                             CTextBuilder* pError) {
    struct SValueOption {
        const char* pszOption;
        const char** ppszValue;
    };
    CLicenceCommandLine line;
    const SValueOption options[] = {{kLicenceOption, &line.pszFile},
                                    {"--app", &line.pszApplication},
                                    {"--public-key", &line.pszPublicKeys},
                                    {"--feature", &line.pszFeature},
                                    {"--now", &line.pszNow}};
    for (int i = 0; i < nCount; ++i) {
        const char* pszArgument = ppArguments[i];
        if (IsOption(pszArgument, "--json")) {
            if (line.bJson)
                return Fail(pError, "--json", " is given twice");
            line.bJson = true;
            continue;
        }
        const SValueOption* pOption = nullptr;
        for (const SValueOption& option : options) {
            if (IsOption(pszArgument, option.pszOption))
                pOption = &option;
        }
        if (pOption == nullptr)
            return Fail(pError, kLicenceOption,
                        " goes with --app, --public-key, --feature, "
                        "--now and --json only");
        if (*pOption->ppszValue != nullptr)
            return Fail(pError, pOption->pszOption, " is given twice");
        if (i + 1 == nCount || ppArguments[i + 1][0] == '\0' ||
            (ppArguments[i + 1][0] == '-' && ppArguments[i + 1][1] == '-'))
            return Fail(pError, pOption->pszOption, " needs a value");
        const char* pszValue = ppArguments[++i];
        // The name is UTF-8 as the DLL takes it; everything else printable ASCII.
        const bool bApplication = pOption->ppszValue == &line.pszApplication;
        if (bApplication ? !IsApplicationName(pszValue) : !IsPrintableAscii(pszValue))
            return Fail(pError, pOption->pszOption,
                        bApplication ? " needs an application name: UTF-8 without control "
                                       "characters"
                                     : " needs printable ASCII");
        *pOption->ppszValue = pszValue;
    }
    if (line.pszApplication == nullptr || line.pszPublicKeys == nullptr)
        return Fail(pError, kLicenceOption, " needs --app and --public-key");
    *pLine = line;
    return true;
}

int RunLicenceCommand(const CLicenceCommandLine& line, CMachineFacts& machine, CReportFile& file,
                      CConsoleOutput* pOutput) {
    std::vector<char> text;
    if (!ReadLicence(line.pszFile, file, &text, pOutput))
        return kExitUsage;
    idrovan_licence_info info;
    std::memset(&info, 0, sizeof(info));
    info.size = sizeof(info);
    static const char kEmpty = '\0';
    const int nResult = VerifyLicenceOn(machine, text.empty() ? &kEmpty : text.data(),
                                        static_cast<unsigned int>(text.size()), line.pszApplication,
                                        line.pszFeature, line.pszPublicKeys, line.pszNow, &info);
    if (line.bJson) {
        FormatJson(nResult, info, &pOutput->out);
    } else {
        FormatText(nResult, info, &pOutput->out);
        if (nResult == IDROVAN_BAD_ARGUMENT)
            pOutput->err.Append(
                "idrovan-cli: --public-key needs key-id:<128 hexadecimal "
                "digits>, --feature a token, --now YYYY-MM-DDTHH:MM:SSZ\n");
    }
    return nResult;
}

#include "report/ProblemReport.h"

#include <new>

#include "report/ProblemReportDialog.h"
#include "services/HttpClient.h"
#include "services/MachineId.h"
#include "ui/ModuleResources.h"
#include "ui/VersionText.h"

namespace {

const wchar_t* const Schemes[] = {L"http://", L"https://"};

// The length of the scheme that starts `text`, 0 when none does.
int SchemeLength(const wchar_t* text)
{
    for (const wchar_t* scheme : Schemes) {
        int length = lstrlenW(scheme);
        if (CompareAsciiNoCase(text, scheme, length) == 0)
            return length;
    }
    return 0;
}

// Where an address written into a version text ends: the closing bracket
// of "[http://...]", or a character that cannot stand in an address and
// would break the link markup it is shown in.
bool EndsAddress(wchar_t ch)
{
    return ch == 0 || ch == L']' || ch <= L' ' || ch == L'"' || ch == L'<' || ch == L'>';
}

} // namespace

int FindWebsite(const wchar_t* text, WideString& website)
{
    website.Clear();
    if (!text)
        return 0;
    for (const wchar_t* start = text; *start; ++start) {
        int scheme = SchemeLength(start);
        if (!scheme)
            continue;
        int length = scheme;
        while (!EndsAddress(start[length]))
            ++length;
        if (length > scheme && start[length - 1] == L'/')
            --length;
        if (length == scheme)
            continue; // a bare scheme names no site
        return website.Assign(start, length);
    }
    return 0;
}

void WebsiteDisplayForm(const wchar_t* website, WideString& display)
{
    display.Clear();
    if (!website)
        return;
    display.Assign(website + SchemeLength(website));
}

void ReadProblemReportTexts(const wchar_t* moduleFile, ProblemReportTexts& texts)
{
    VersionString(L"ProductName", moduleFile, texts.product);
    if (!VersionString(L"CompanyName", moduleFile, texts.company) || texts.company.IsEmpty())
        texts.company = L"us";
    texts.website.Clear();
    WideString value;
    static const wchar_t* const sources[] = {L"Comments", L"SpecialBuild"};
    for (const wchar_t* name : sources) {
        if (VersionString(name, moduleFile, value) && FindWebsite(value.Text(), texts.website))
            break;
    }
    WebsiteDisplayForm(texts.website.Text(), texts.websiteDisplay);
}

int UploadProblemReport(const ProblemReportSettings& settings, const wchar_t* moduleFile,
                        const wchar_t* dumpPath, const wchar_t* textPath, const wchar_t* email,
                        const wchar_t* description)
{
    WideString program, version, machine;
    if (settings.programName && *settings.programName)
        program = settings.programName;
    else
        VersionString(L"InternalName", moduleFile, program);
    ProgramVersionText(moduleFile, version);
    MachineId(MachineIdForReport, machine);

    HttpClient client;
    const wchar_t* const fields[][2] = {
        {L"a", L"r"},
        {L"p", program.Text()},
        {L"s", settings.extraText ? settings.extraText : L""},
        {L"v", version.Text()},
        {L"g", machine.Text()},
        {L"e", email ? email : L""},
        {L"x", description ? description : L""},
    };
    for (const auto& field : fields) {
        if (!client.AddField(field[0], field[1]))
            return 0;
    }
    // A file that cannot be opened still sends its part header, so the
    // server learns that it was meant to come.
    client.AddFile(L"d", dumpPath ? dumpPath : L"");
    client.AddFile(L"t", textPath ? textPath : L"");
    WideString response;
    DWORD status = 0;
    return client.Post(settings.reportHost, settings.reportPath ? settings.reportPath : L"/", L"",
                       &response, nullptr, 0, nullptr, nullptr, nullptr, nullptr, settings.port,
                       settings.service, nullptr, nullptr, nullptr, &status, 0, 0, nullptr,
                       UploadStepTimeout, nullptr, 1);
}

namespace {

const wchar_t* CopyOf(const wchar_t* text, WideString& copy)
{
    if (!text)
        return nullptr;
    copy = text;
    return copy.Text();
}

} // namespace

ReportUpload::ReportUpload(const ProblemReportSettings& settings, const wchar_t* moduleFile,
                           const wchar_t* dumpPath, const wchar_t* textPath)
    : settings_(settings)
{
    settings_.reportHost = CopyOf(settings.reportHost, host_);
    settings_.reportPath = CopyOf(settings.reportPath, path_);
    settings_.programName = CopyOf(settings.programName, program_);
    settings_.extraText = CopyOf(settings.extraText, extra_);
    CopyOf(moduleFile, moduleFile_);
    CopyOf(dumpPath, dumpPath_);
    CopyOf(textPath, textPath_);
    hasModuleFile_ = moduleFile != nullptr;
}

int ReportUpload::Start(const wchar_t* email, const wchar_t* description)
{
    if (worker_.IsRunning())
        return 0;
    CopyOf(email ? email : L"", email_);
    CopyOf(description ? description : L"", description_);
    return worker_.Start(Run, this);
}

DWORD ReportUpload::Run(void* self)
{
    ReportUpload* upload = static_cast<ReportUpload*>(self);
    return (DWORD)UploadProblemReport(upload->settings_,
                                      upload->hasModuleFile_ ? upload->moduleFile_.Text() : nullptr,
                                      upload->dumpPath_.Text(), upload->textPath_.Text(),
                                      upload->email_.Text(), upload->description_.Text());
}

int SendProblemReport(const ProblemReportSettings& settings, const wchar_t* dumpPath,
                      const wchar_t* textPath)
{
    if (!settings.reportHost || !*settings.reportHost)
        return 1;
    HINSTANCE instance = settings.instance ? settings.instance : GetModuleHandleW(nullptr);
    WideString moduleFile;
    // Without the module's path the executable's version resource speaks.
    const wchar_t* versionFile = ModuleFile(instance, moduleFile) ? moduleFile.Text() : nullptr;
    ProblemReportTexts texts;
    ReadProblemReportTexts(versionFile, texts);
    ReportUpload* upload = new (std::nothrow) ReportUpload(settings, versionFile, dumpPath, textPath);
    ProblemReportDialog dialog(texts, settings.iconId, dumpPath, textPath);
    dialog.UseUpload(upload, settings.uploadTimeout);
    dialog.UseHeartbeat(settings.heartbeat);
    INT_PTR choice = dialog.Show(instance);
    if (!upload) {
        // A failed upload is silent.
        if (choice == ProblemReportDialog::Send)
            (void)UploadProblemReport(settings, versionFile, dumpPath, textPath,
                                      dialog.Email().Text(), dialog.Description().Text());
    } else if (!upload->IsRunning()) {
        delete upload;
    }
    // An upload that outlasted its time keeps its record: its thread still
    // uses it until the process ends, which follows the report.
    return 0;
}

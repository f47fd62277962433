#pragma once

// Where Tollbrook's services live. These are deployment values, kept in this
// one place; tests talk to loopback servers instead.
namespace Deployment {

// The update check's endpoint, with the product in its query.
constexpr wchar_t UpdateEndpoint[] = L"https://www.tollbrook.example/common/update.php?p=quillmere";
// The endpoint of the builds that accept the tests' update key: one that
// never resolves, so that such a build cannot reach the maker, whatever it
// is given (tests point it at a loopback server).
constexpr wchar_t TestUpdateEndpoint[] =
    L"https://update.tollbrook.invalid/common/update.php?p=quillmere";
// Where problem reports are posted; the builds that accept the tests'
// update key post theirs to a host that never resolves.
constexpr wchar_t ReportHost[] = L"www.tollbrook.example";
constexpr wchar_t TestReportHost[] = L"report.tollbrook.invalid";
constexpr wchar_t ReportPath[] = L"/services/lumeri/report.php";
// The link at the bottom of the main window: its text and its target.
constexpr wchar_t WebAddress[] = L"www.tollbrook.example";
constexpr wchar_t HomePage[] = L"https://www.tollbrook.example/";
// Where each release's update archives are published, below
// "<version>/<x86|x64>/"; the release tooling (tools/dist) writes these
// addresses into the update answers.
constexpr wchar_t ReleaseDownloads[] = L"https://www.tollbrook.example/downloads/quillmere/";

} // namespace Deployment

#include "app/SnapshotMessages.h"

#include "resources/resource.h"
#include "ui/ErrorText.h"

namespace {

// The system's text for an error code, else its number.
void SystemErrorText(DWORD error, WideString& text)
{
    WideString message;
    if (ErrorText(error, message)) {
        FlattenMessageText(message);
        text = message;
    } else {
        text.Format(L"error %u", error);
    }
}

// The file's name without its folder.
const wchar_t* FileName(const wchar_t* path)
{
    const wchar_t* name = path;
    for (const wchar_t* p = path; *p; ++p)
        if (*p == L'\\' || *p == L'/')
            name = p + 1;
    return name;
}

void Reason(StringTable& strings, const SnapshotProblem& problem, WideString& reason)
{
    WideString format;
    strings.Get(IDS_PROBLEM_FIRST + problem.kind, &format);
    const wchar_t* where = problem.where.c_str();
    unsigned long long number = problem.number;
    switch (problem.kind) {
    case SnapshotProblem::CannotRead: {
        WideString error;
        SystemErrorText((DWORD)number, error);
        reason.Format(format.Text(), error.Text());
        break;
    }
    case SnapshotProblem::TooLarge:
        reason.Format(format.Text(), number >> 20);
        break;
    case SnapshotProblem::NotJson:
    case SnapshotProblem::InvalidUtf8:
    case SnapshotProblem::NewerVersion:
        reason.Format(format.Text(), number);
        break;
    case SnapshotProblem::BeyondLimit:
    case SnapshotProblem::TooDeep:
        reason.Format(format.Text(), where, number);
        break;
    case SnapshotProblem::WrongType:
    case SnapshotProblem::Missing:
    case SnapshotProblem::Duplicate:
    case SnapshotProblem::BadValue:
    case SnapshotProblem::SecondRoot:
    case SnapshotProblem::DuplicateHandle:
    case SnapshotProblem::DuplicateId:
    case SnapshotProblem::UnknownParent:
    case SnapshotProblem::Cycle:
        reason.Format(format.Text(), where);
        break;
    default:
        reason = format;
        break;
    }
}

} // namespace

namespace SnapshotMessages {

void NotOpened(StringTable& strings, const wchar_t* path, const SnapshotProblem& problem,
               WideString& text)
{
    WideString reason, format;
    Reason(strings, problem, reason);
    strings.Get(IDS_SNAPSHOT_NOT_OPENED, &format);
    text.Format(format.Text(), FileName(path), reason.Text());
}

void NoHive(StringTable& strings, const wchar_t* path, DWORD error, WideString& text)
{
    WideString reason, format, errorText;
    SystemErrorText(error, errorText);
    strings.Get(IDS_SNAPSHOT_NO_HIVE, &format);
    reason.Format(format.Text(), errorText.Text());
    strings.Get(IDS_SNAPSHOT_NOT_OPENED, &format);
    text.Format(format.Text(), FileName(path), reason.Text());
}

void NotSaved(StringTable& strings, const wchar_t* path, DWORD error, WideString& text)
{
    WideString format, errorText;
    SystemErrorText(error, errorText);
    strings.Get(IDS_SNAPSHOT_NOT_SAVED, &format);
    text.Format(format.Text(), path, errorText.Text());
}

// "2026-12-09T08:21:00Z" reads "2026-12-09 08:21".
std::wstring ShownTime(const std::wstring& taken)
{
    std::wstring when = taken.substr(0, 16);
    if (when.size() > 10 && when[10] == L'T')
        when[10] = L' ';
    return when;
}

void Caption(StringTable& strings, const wchar_t* programCaption, const wchar_t* path,
             const std::wstring& computer, const std::wstring& taken, WideString& text)
{
    WideString format;
    strings.Get(IDS_SNAPSHOT_CAPTION, &format);
    text.Format(format.Text(), programCaption, FileName(path), computer.c_str(), ShownTime(taken).c_str());
}

void ComparisonCaption(StringTable& strings, const wchar_t* shownCaption, const wchar_t* path,
                       const SnapshotHeader& compared, const int (&counts)[3], bool changedOnly,
                       WideString& text)
{
    WideString format, numbers;
    strings.Get(IDS_COMPARE_COUNTS, &format);
    numbers.Format(format.Text(), counts[0], counts[1], counts[2]);
    strings.Get(IDS_COMPARE_CAPTION, &format);
    text.Format(format.Text(), shownCaption, FileName(path), compared.computer.c_str(),
                ShownTime(compared.taken).c_str(), numbers.Text());
    if (changedOnly) {
        WideString whole = text;
        strings.Get(IDS_CHANGED_ONLY_CAPTION, &format);
        text.Format(format.Text(), whole.Text());
    }
}

} // namespace SnapshotMessages

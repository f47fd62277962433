#include "update/UpdateFiles.h"

#include "services/FileHash.h"
#include "services/ModulePath.h"
#include "services/ProgramLaunch.h"
#include "update/ArchiveInstall.h"
#include "update/InstallPath.h"
#include "update/ProgramImage.h"
#include "update/UpdateRules.h"
#include "update/UpdateSteps.h"

#include <new>
#include <stdlib.h>
#include <wchar.h>

namespace {

const wchar_t Agent[] = L"AutoUpdate";
const wchar_t AcceptAll[] = L"Accept: */*\r\n\r\n";

// The "url" elements of a walk, kept (AddRef) until they are read.
struct UrlElements {
    IUnknown* nodes[UpdateFiles::MostFiles + 1];
    int count = 0;
    bool tooMany = false;
};

int CollectUrl(int kind, IUnknown* node, const wchar_t* name, const wchar_t*, void* data,
               XmlDocument*)
{
    UrlElements* found = (UrlElements*)data;
    if (kind != XmlChildNode || !name || CompareAsciiNoCase(name, L"url") != 0)
        return 0;
    if (found->count == UpdateFiles::MostFiles) {
        found->tooMany = true;
        return 1;
    }
    node->AddRef();
    found->nodes[found->count++] = node;
    return 0;
}

// The text nodes directly inside an element: with "name" or "zip" given as
// child elements, the element's whole text would include theirs.
int CollectOwnText(int kind, IUnknown*, const wchar_t* name, const wchar_t* value, void* data,
                   XmlDocument*)
{
    if (kind == XmlChildNode && name &&
        (wcscmp(name, L"#text") == 0 || wcscmp(name, L"#cdata-section") == 0))
        ((WideString*)data)->Append(value ? value : L"");
    return 0;
}

bool SameText(const wchar_t* a, const wchar_t* b)
{
    return CompareStringOrdinal(a, -1, b, -1, TRUE) == CSTR_EQUAL;
}

bool EndsWithExe(const WideString& name)
{
    return name.Length() > 4 && CompareAsciiNoCase(name.Text() + name.Length() - 4, L".exe") == 0;
}

unsigned long long FileSize(const wchar_t* path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path, GetFileExInfoStandard, &data))
        return 0;
    return ((unsigned long long)data.nFileSizeHigh << 32) | data.nFileSizeLow;
}

} // namespace

UpdateFiles::UpdateFiles(HttpClient& http, const wchar_t* programDirectory,
                         const wchar_t* installerDirectory)
    : http_(http), programDirectory_(programDirectory), installerDirectory_(installerDirectory)
{
}

UpdateFiles::~UpdateFiles()
{
    ReleaseInstaller();
    delete[] files_;
}

void UpdateFiles::ReleaseInstaller()
{
    if (installerHold_ != INVALID_HANDLE_VALUE)
        CloseHandle(installerHold_);
    installerHold_ = INVALID_HANDLE_VALUE;
}

int UpdateFiles::Read(XmlDocument& answer, IUnknown* base)
{
    delete[] files_;
    files_ = nullptr;
    count_ = 0;
    UrlElements* found = new (std::nothrow) UrlElements();
    if (!found)
        return 0;
    answer.EnumeratePath(L"update\\files", &CollectUrl, found, base);
    execute_.Clear();
    answer.ReadPath(L"update\\files\\execute", execute_, base);
    TrimBlanks(execute_);
    int ok = !found->tooMany;
    if (ok && found->count) {
        files_ = new (std::nothrow) UpdateFile[found->count];
        ok = files_ != nullptr;
    }
    for (int i = 0; i < found->count; ++i) {
        if (ok && !Add(found->nodes[i], answer))
            ok = 0;
        found->nodes[i]->Release();
    }
    delete found;
    if (!ok) {
        delete[] files_;
        files_ = nullptr;
        count_ = 0;
    }
    return ok;
}

int UpdateFiles::Add(IUnknown* element, XmlDocument& answer)
{
    UpdateFile& file = files_[count_];
    answer.EnumeratePath(L"", &CollectOwnText, &file.url, element);
    if (file.url.IsEmpty())
        answer.ReadPath(L"#text", file.url, element);
    answer.ReadPath(L"name", file.name, element);
    answer.ReadPath(L"zip", file.zip, element);
    answer.ReadPath(L"sha256", file.sha256, element);
    answer.ReadPath(L"signature", file.signature, element);
    TrimBlanks(file.url);
    TrimBlanks(file.name);
    TrimBlanks(file.zip);
    TrimBlanks(file.sha256);
    TrimBlanks(file.signature);
    ++count_;
    return 1;
}

// What a signature names: the entry's archive, else its name, else the
// installer's file name, which is the last component of what follows the
// URL's first "=" (of the whole URL when it has none).
int UpdateFiles::SignedName(const UpdateFile& file, WideString& name) const
{
    if (!file.zip.IsEmpty())
        return name.Assign(file.zip);
    if (!file.name.IsEmpty())
        return name.Assign(file.name);
    const wchar_t* equals = wcschr(file.url.Text(), L'=');
    FileNameOf(equals ? equals + 1 : file.url.Text(), name);
    return IsSafeFileName(name.Text());
}

int UpdateFiles::Check(const wchar_t* version, const wchar_t* programName,
                       const UpdatePublicKey* keys, int keyCount)
{
    newProgram_.Clear();
    if (!count_ || !version_.Assign(version) || !ParseVersionText(version, offered_))
        return 0;
    int installers = 0;
    for (int i = 0; i < count_; ++i) {
        const UpdateFile& file = files_[i];
        WideString name;
        if (!IsHttpsAddress(file.url.Text()) || !SignedName(file, name) ||
            !VerifyUpdateSignature(version, name.Text(), file.sha256.Text(),
                                   file.signature.Text(), keys, keyCount))
            return 0;
        installers += file.name.IsEmpty();
    }
    // Without a folder of the user's to put it in, an installer has no
    // place: it never goes to whatever the current directory is.
    return installers <= 1 && (!installers || !installerDirectory_.IsEmpty()) &&
           CheckNames(programName);
}

bool UpdateFiles::HasProgramFiles() const
{
    for (int i = 0; i < count_; ++i)
        if (!files_[i].name.IsEmpty())
            return true;
    return false;
}

// Every target once; the program to start is one of them.
int UpdateFiles::CheckNames(const wchar_t* programName)
{
    bool programFiles = false;
    for (int i = 0; i < count_; ++i) {
        const UpdateFile& file = files_[i];
        if (file.name.IsEmpty())
            continue;
        programFiles = true;
        WideString target, archive;
        if (!ProgramPath(file.name.Text(), nullptr, target) ||
            (!file.zip.IsEmpty() && !ProgramPath(file.zip.Text(), nullptr, archive)))
            return 0;
        for (int j = 0; j < i; ++j) {
            WideString other;
            if (!files_[j].name.IsEmpty() && ProgramPath(files_[j].name.Text(), nullptr, other) &&
                SameText(other.Text(), target.Text()))
                return 0;
        }
    }
    bool named = !execute_.IsEmpty();
    if (!programFiles)
        return !named;
    WideString wanted, path;
    if (!MakeSafeRelativePath(named ? execute_.Text() : programName, wanted) || !EndsWithExe(wanted) ||
        !JoinInside(programDirectory_.Text(), wanted.Text(), path))
        return 0;
    for (int i = 0; i < count_; ++i) {
        WideString target;
        if (!files_[i].name.IsEmpty() && ProgramPath(files_[i].name.Text(), nullptr, target) &&
            SameText(target.Text(), path.Text()))
            return newProgram_.Assign(path);
    }
    return 0;
}

int UpdateFiles::ProgramPath(const wchar_t* name, const wchar_t* suffix, WideString& path) const
{
    WideString relative, suffixed;
    bool directory = false;
    if (!MakeSafeRelativePath(name, relative, &directory) || directory)
        return 0;
    if (suffix && !InsertBeforeExtension(relative.Text(), suffix, suffixed))
        return 0;
    return JoinInside(programDirectory_.Text(), suffix ? suffixed.Text() : relative.Text(), path);
}

int UpdateFiles::Prepare(FileJournal& journal, const volatile LONG* stop)
{
    stop_ = stop;
    downloaded_ = 0;
    lastPermille_ = -1;
    installer_.Clear();
    installerScratch_.Clear();
    ReleaseInstaller();
    if (!journal.Begin(programDirectory_.Text()))
        return 0;
    for (int i = 0; i < count_; ++i) {
        current_ = i;
        if (Stopped() || !PrepareFile(i, journal))
            return 0;
    }
    if (progress_)
        progress_(1000, progressData_);
    return !Stopped() && CheckNewProgram(journal);
}

int UpdateFiles::PrepareFile(int index, FileJournal& journal)
{
    const UpdateFile& file = files_[index];
    WideString signedName, target, scratch;
    if (!SignedName(file, signedName))
        return 0;
    UpdateStep(L"download %s", signedName.Text());
    if (file.name.IsEmpty()) {
        if (!installerName_.Assign(signedName) ||
            !JoinInside(installerDirectory_.Text(), signedName.Text(), target) ||
            !journal.CreateScratchBeside(target.Text(), scratch))
            return 0;
    } else if (!ProgramPath(file.zip.IsEmpty() ? file.name.Text() : file.zip.Text(), nullptr,
                            target) ||
               !journal.CreateParents(target.Text()) ||
               !journal.CreateScratchBeside(target.Text(), scratch)) {
        return 0;
    }
    DWORD status = 0;
    // One byte beyond the limit tells a file that is too large from one
    // that just fits. The bytes go straight into the journal's working
    // file, so that no file of the download is unrecorded.
    if (!http_.Download(file.url.Text(), Agent, scratch.Text(), (DWORD)MostFileBytes + 1,
                        &DownloadAnswer, this, AcceptAll, (DWORD)-1, &status, NetworkTimeout, 0,
                        nullptr) ||
        Stopped())
        return 0;
    UpdateStep(L"verify %s", signedName.Text());
    // Held against writers before its digest is taken, until it is used:
    // the bytes checked are the bytes installed or run.
    if (file.name.IsEmpty()) {
        installerHold_ = CreateFileW(scratch.Text(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        return installerHold_ != INVALID_HANDLE_VALUE && CheckDownload(file, scratch.Text()) &&
               installerScratch_.Assign(scratch);
    }
    if (!journal.HoldStaged(scratch.Text()) || !CheckDownload(file, scratch.Text()))
        return 0;
    WideString program;
    if (!file.zip.IsEmpty())
        // The archive must bring the file it was announced for.
        return StageArchive(scratch.Text(), programDirectory_.Text(), file.name.Text(), journal) &&
               ProgramPath(file.name.Text(), nullptr, program) && journal.StagedFor(program.Text());
    WideString old;
    return ProgramPath(file.name.Text(), L"_old", old) &&
           journal.PlanReplace(scratch.Text(), target.Text(), old.Text());
}

int UpdateFiles::DownloadAnswer(int code, void* value, void* data)
{
    UpdateFiles* self = (UpdateFiles*)data;
    // Everything is allowed except more than a file may hold.
    if (code == HttpDownloadLength || code == HttpDownloadTotal)
        return *(const long long*)value <= (long long)MostFileBytes && !self->Stopped();
    if (code == HttpDownloadInPlace)
        *(int*)value = 1;
    // Where the redirects ended must pass the rule of the answer's own URLs.
    if (code == HttpDownloadFinalUrl)
        return IsHttpsAddress((const wchar_t*)value) && !self->Stopped();
    if (code == HttpDownloadLengthAddress)
        self->length_ = *(const long long*)value;
    if (code == HttpDownloadWritten) {
        long long written = *(const long long*)value;
        long long share = self->length_ > 0 ? written * 1000 / self->length_ : 0;
        int permille = (int)((self->current_ * 1000 + (share > 1000 ? 1000 : share)) / self->count_);
        if (self->progress_ && permille != self->lastPermille_)
            self->progress_(permille, self->progressData_);
        self->lastPermille_ = permille;
    }
    return !self->Stopped();
}

int UpdateFiles::CheckDownload(const UpdateFile& file, const wchar_t* path)
{
    unsigned long long size = FileSize(path);
    downloaded_ += size;
    if (size > MostFileBytes || downloaded_ > MostUpdateBytes)
        return 0;
    // A program file for another processor never takes this one's place;
    // an installer that runs on its own may be built for any.
    if (!file.name.IsEmpty() && !FitsThisProcessor(path))
        return 0;
    WideString digest;
    return FileSha256(path, digest) && digest == file.sha256.Text();
}

// A signed build of another version cannot pass for the offered one.
int UpdateFiles::CheckNewProgram(const FileJournal& journal) const
{
    if (newProgram_.IsEmpty())
        return 1;
    const wchar_t* staged = journal.StagedFor(newProgram_.Text());
    VersionNumbers found;
    return staged && ReadProgramVersion(staged, found) && IsSameVersion(found, offered_);
}

int UpdateFiles::PlaceInstaller()
{
    if (installerScratch_.IsEmpty())
        return 1;
    UpdateStep(L"place %s", installerName_.Text());
    WideString stem, extension, name, path;
    int dot = -1;
    for (int i = 0; i < installerName_.Length(); ++i)
        if (installerName_.At(i) == L'.')
            dot = i;
    stem.Assign(installerName_.Text(), dot > 0 ? dot : installerName_.Length());
    extension.Assign(dot > 0 ? installerName_.Text() + dot : L"");
    // Renamed without replacing: a file of the name, whoever made it, stays.
    for (int attempt = 1; attempt < 100; ++attempt) {
        if (attempt == 1 ? !name.Assign(installerName_)
                         : !name.Format(L"%s (%d)%s", stem.Text(), attempt, extension.Text()))
            return 0;
        if (!JoinInside(installerDirectory_.Text(), name.Text(), path))
            return 0;
        if (MoveFileExW(installerScratch_.Text(), path.Text(), MOVEFILE_WRITE_THROUGH))
            return installer_.Assign(path);
        if (GetLastError() != ERROR_ALREADY_EXISTS && GetLastError() != ERROR_FILE_EXISTS)
            return 0;
    }
    return 0;
}

int UpdateFiles::RunInstaller()
{
    int started = !installer_.IsEmpty() && LaunchProgram(installer_.Text(), nullptr, nullptr, 0);
    ReleaseInstaller();
    return started;
}

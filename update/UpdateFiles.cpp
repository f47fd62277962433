#include "update/UpdateFiles.h"

#include "update/ProgramImage.h"

#include "services/FileHash.h"
#include "services/ModulePath.h"
#include "update/InstallPath.h"
#include "update/UpdateRules.h"
#include "update/ArchiveInstall.h"

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
    delete[] files_;
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
    TrimBlanks(file.url);
    TrimBlanks(file.name);
    TrimBlanks(file.zip);
    TrimBlanks(file.sha256);
    ++count_;
    return 1;
}

int UpdateFiles::Install()
{
    installer_.Clear();
    downloaded_ = 0;
    if (RunPass(UpdateDownloadPass) && RunPass(UpdateBackUpPass) && RunPass(UpdateInstallPass)) {
        journal_.Commit();
        return 1;
    }
    journal_.Rollback();
    installer_.Clear();
    return 0;
}

// Each pass starts with no success; any step that fails ends it, and a pass
// over no file at all has not succeeded either.
int UpdateFiles::RunPass(UpdatePass pass)
{
    int succeeded = 0;
    for (int i = 0; i < count_; ++i) {
        if (observer_)
            observer_(pass, i, files_[i], observerData_);
        int step = pass == UpdateDownloadPass ? DownloadStep(files_[i])
                   : pass == UpdateBackUpPass ? BackUpStep(files_[i])
                                              : InstallStep(files_[i]);
        if (!step)
            return 0;
        succeeded = 1;
    }
    return succeeded;
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

// An installer keeps its "zip" name, or takes the last component of what
// follows the URL's first "=" (of the whole URL when it has none).
int UpdateFiles::InstallerTarget(const UpdateFile& file, WideString& path) const
{
    WideString name;
    if (!file.zip.IsEmpty()) {
        name = file.zip;
    } else {
        const wchar_t* equals = wcschr(file.url.Text(), L'=');
        FileNameOf(equals ? equals + 1 : file.url.Text(), name);
    }
    return IsSafeFileName(name.Text()) && JoinInside(installerDirectory_.Text(), name.Text(), path);
}

int UpdateFiles::DownloadAnswer(int code, void* value, void* data)
{
    // Everything is allowed except more than a file may hold.
    if (code == HttpDownloadLength || code == HttpDownloadTotal)
        return *(const long long*)value <= (long long)MostFileBytes;
    return 1;
}

int UpdateFiles::DownloadStep(const UpdateFile& file)
{
    WideString target;
    if (file.url.IsEmpty())
        return 0;
    if (!file.name.IsEmpty()) {
        if (!ProgramPath(file.zip.IsEmpty() ? file.name.Text() : file.zip.Text(), L"_new",
                         target) ||
            !journal_.CreateParents(target.Text()) || !journal_.Scratch(target.Text()))
            return 0;
    } else {
        if (!InstallerTarget(file, target) || !journal_.Created(target.Text()))
            return 0;
    }
    DWORD status = 0;
    // One byte beyond the limit tells a file that is too large from one
    // that just fits.
    if (!http_.Download(file.url.Text(), Agent, target.Text(), (DWORD)MostFileBytes + 1,
                        &DownloadAnswer, this, AcceptAll, (DWORD)-1, &status, (DWORD)-1, 0,
                        nullptr))
        return 0;
    if (!CheckDownload(file, target.Text()))
        return 0;
    if (file.name.IsEmpty())
        installer_ = target;
    return 1;
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
    if (file.sha256.IsEmpty())
        return 1;
    WideString digest;
    return FileSha256(path, digest) && SameDigest(file.sha256.Text(), digest.Text());
}

int UpdateFiles::BackUpStep(const UpdateFile& file)
{
    if (file.name.IsEmpty())
        return 1;
    WideString current, old;
    if (!ProgramPath(file.name.Text(), nullptr, current) ||
        !ProgramPath(file.name.Text(), L"_old", old) || IsDirectory(current.Text()) ||
        IsDirectory(old.Text()))
        return 0;
    // The "_old" copy of an earlier update makes way; it is deleted only
    // when this one has succeeded.
    if (PathExists(old.Text()) && !journal_.MoveAside(old.Text()))
        return 0;
    // A file that the update adds has nothing to back up.
    if (!PathExists(current.Text()))
        return 1;
    return journal_.Move(current.Text(), old.Text());
}

int UpdateFiles::InstallStep(const UpdateFile& file)
{
    if (file.name.IsEmpty())
        return 1;
    WideString current, fresh;
    if (!ProgramPath(file.name.Text(), nullptr, current))
        return 0;
    if (file.zip.IsEmpty())
        return ProgramPath(file.name.Text(), L"_new", fresh) &&
               journal_.Move(fresh.Text(), current.Text());
    // The archive must bring the file it was announced for.
    return ProgramPath(file.zip.Text(), L"_new", fresh) &&
           InstallArchive(fresh.Text(), programDirectory_.Text(), journal_) &&
           PathExists(current.Text()) && !IsDirectory(current.Text());
}

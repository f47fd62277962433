#include "update/FileJournal.h"

#include "services/ModulePath.h"
#include "update/InstallPath.h"
#include "update/UpdateSteps.h"

#include <new>
#include <stdlib.h>
#include <wchar.h>

const wchar_t FileJournal::FileName[] = L"Quillmere.journal";

namespace {

const char Header[] = "Quillmere update journal 1";
// A journal is a few lines per file of an update; anything larger is not
// one of ours.
const DWORD MostJournalBytes = 16 * 1024 * 1024;

bool IsHexDigit(wchar_t ch)
{
    return (ch >= L'0' && ch <= L'9') || (ch >= L'a' && ch <= L'f') || (ch >= L'A' && ch <= L'F');
}

// "qtm" with one to four hexadecimal digits and ".tmp": GetTempFileNameW's
// names with the prefix the program uses, and this class's own.
bool IsWorkingFileName(const wchar_t* name)
{
    if (CompareAsciiNoCase(name, L"qtm", 3) != 0)
        return false;
    int digits = 0;
    while (IsHexDigit(name[3 + digits]) && digits < 5)
        ++digits;
    return digits >= 1 && digits <= 4 && CompareAsciiNoCase(name + 3 + digits, L".tmp") == 0;
}

// What identifies a file across renames: its size and last-write time.
int FileIdentity(const wchar_t* path, unsigned long long* size, unsigned long long* written)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path, GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return 0;
    *size = ((unsigned long long)data.nFileSizeHigh << 32) | data.nFileSizeLow;
    *written = ((unsigned long long)data.ftLastWriteTime.dwHighDateTime << 32) |
               data.ftLastWriteTime.dwLowDateTime;
    return 1;
}

bool SamePath(const wchar_t* a, const wchar_t* b)
{
    return CompareStringOrdinal(a, -1, b, -1, TRUE) == CSTR_EQUAL;
}

// Makes the bytes of a file durable before anything depends on them.
int FlushFile(const wchar_t* path)
{
    HANDLE file = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    BOOL flushed = FlushFileBuffers(file);
    CloseHandle(file);
    return flushed != 0;
}

} // namespace

FileJournal::~FileJournal()
{
    Close(false);
    delete[] records_;
}

int FileJournal::Begin(const wchar_t* directory)
{
    Close(false);
    delete[] records_;
    records_ = nullptr;
    count_ = capacity_ = 0;
    state_ = Preparing;
    if (!directory_.Assign(directory) || directory_.IsEmpty() ||
        (directory_.At(directory_.Length() - 1) != L'\\' && !directory_.Append(L'\\')) ||
        !JoinPath(directory_.Text(), FileName, path_))
        return 0;
    scratchSeed_ = (GetTickCount() ^ (GetCurrentProcessId() << 4)) & 0xFFFF;
    file_ = CreateFileW(path_.Text(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file_ == INVALID_HANDLE_VALUE)
        return 0;
    recording_ = true;
    WideString header;
    if (header.FromMultiByte(Header, -1, CP_UTF8) && Write(header.Text()))
        return 1;
    Close(true);
    return 0;
}

// --- writing -----------------------------------------------------------------

// One UTF-8 line. Lines are not flushed one by one: a killed process
// leaves them in the system's cache, and only the state lines, which the
// renames depend on, must survive a power cut.
int FileJournal::Write(const wchar_t* line)
{
    if (file_ == INVALID_HANDLE_VALUE)
        return 0;
    WideString text;
    if (!text.Assign(line) || !text.Append(L'\n'))
        return 0;
    int size = 0;
    char* bytes = text.ToMultiByte(CP_UTF8, &size);
    if (!bytes)
        return 0;
    int ok = WriteAll(file_, bytes, (DWORD)size);
    free(bytes);
    return ok;
}

int FileJournal::WriteState(const wchar_t* state)
{
    UpdateStep(L"journal %s", state);
    return Write(state) && FlushFileBuffers(file_);
}

int FileJournal::RelativePath(const wchar_t* path, WideString& text) const
{
    int length = directory_.Length();
    if ((int)wcslen(path) > length &&
        CompareStringOrdinal(path, length, directory_.Text(), length, TRUE) == CSTR_EQUAL)
        return text.Assign(path + length);
    return 0;
}

int FileJournal::WriteRecord(const Record& record)
{
    WideString line, first, second;
    switch (record.kind) {
    case Folder:
        return RelativePath(record.path.Text(), first) && line.Format(L"folder\t%s", first.Text()) &&
               Write(line.Text());
    case Scratch:
        if (RelativePath(record.path.Text(), first))
            return line.Format(L"scratch\t%s", first.Text()) && Write(line.Text());
        return line.Format(L"outside\t%s", record.path.Text()) && Write(line.Text());
    case Move:
        return RelativePath(record.path.Text(), first) &&
               RelativePath(record.target.Text(), second) &&
               line.Format(L"%s\t%s\t%s\t%I64u\t%I64u", record.placesNew ? L"place" : L"move",
                           first.Text(), second.Text(), record.size, record.written) &&
               Write(line.Text());
    }
    return 0;
}

int FileJournal::Add(Kind kind, const wchar_t* path, const wchar_t* target,
                     unsigned long long size, unsigned long long written, bool placesNew)
{
    if (count_ == capacity_) {
        int capacity = capacity_ ? capacity_ * 2 : 32;
        Record* grown = new (std::nothrow) Record[capacity];
        if (!grown)
            return 0;
        for (int i = 0; i < count_; ++i)
            grown[i] = static_cast<Record&&>(records_[i]);
        delete[] records_;
        records_ = grown;
        capacity_ = capacity;
    }
    Record& record = records_[count_];
    record.kind = kind;
    record.size = size;
    record.written = written;
    record.opensStep = false;
    record.placesNew = placesNew;
    if (!record.path.Assign(path) || !record.target.Assign(target ? target : L""))
        return 0;
    // A journal being recovered is only read; a live one records first.
    if (recording_ && !WriteRecord(record))
        return 0;
    ++count_;
    return 1;
}

// --- preparation ---------------------------------------------------------------

int FileJournal::CreateParents(const wchar_t* path)
{
    WideString parent;
    DirectoryOf(path, parent);
    parent.Truncate(parent.Length() - 1); // without its trailing backslash
    return parent.IsEmpty() || CreateDirectories(parent.Text());
}

int FileJournal::CreateDirectories(const wchar_t* directory)
{
    if (PathExists(directory))
        return IsDirectory(directory);
    if (!CreateParents(directory))
        return 0;
    // Recorded before it is made: a folder made but not recorded would stay.
    return Add(Folder, directory, nullptr) && CreateDirectoryW(directory, nullptr);
}

// A working file's name in the folder of `beside` that no file has yet.
int FileJournal::FreeScratchName(const wchar_t* beside, WideString& name)
{
    WideString folder;
    DirectoryOf(beside, folder);
    for (int attempt = 0; attempt < 0x10000; ++attempt) {
        scratchSeed_ = (scratchSeed_ + 1) & 0xFFFF;
        if (!scratchSeed_)
            continue;
        if (!name.Format(L"%sqtm%04X.tmp", folder.Text(), scratchSeed_))
            return 0;
        if (!PathExists(name.Text()))
            return 1;
    }
    return 0;
}

int FileJournal::CreateScratchBeside(const wchar_t* target, WideString& scratch)
{
    for (int attempt = 0; attempt < 16; ++attempt) {
        if (!FreeScratchName(target, scratch))
            return 0;
        // Only a file this call made is ever recorded as a working file.
        HANDLE file = CreateFileW(scratch.Text(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            if (GetLastError() == ERROR_FILE_EXISTS || GetLastError() == ERROR_ALREADY_EXISTS)
                continue;
            return 0;
        }
        CloseHandle(file);
        if (Add(Scratch, scratch.Text(), nullptr))
            return 1;
        DeleteFileW(scratch.Text());
        return 0;
    }
    return 0;
}

// A free name beside `path` for the file there to move to; recorded as a
// working file, so it goes at Finish.
int FileJournal::ReserveAside(const wchar_t* path, WideString& aside)
{
    return FreeScratchName(path, aside) && Add(Scratch, aside.Text(), nullptr);
}

int FileJournal::AddMove(const wchar_t* from, const wchar_t* to, bool placesNew)
{
    unsigned long long size = 0, written = 0;
    return FileIdentity(from, &size, &written) && Add(Move, from, to, size, written, placesNew);
}

int FileJournal::PlanReplace(const wchar_t* staged, const wchar_t* target, const wchar_t* oldCopy)
{
    if (IsDirectory(target) || (oldCopy && IsDirectory(oldCopy)) || StagedFor(target) ||
        !FlushFile(staged))
        return 0;
    WideString aside;
    int first = count_;
    if (oldCopy) {
        if (PathExists(oldCopy) && (!ReserveAside(oldCopy, aside) || !AddMove(oldCopy, aside.Text())))
            return 0;
        if (PathExists(target) && !AddMove(target, oldCopy))
            return 0;
    } else if (PathExists(target) &&
               (!ReserveAside(target, aside) || !AddMove(target, aside.Text()))) {
        return 0;
    }
    if (!AddMove(staged, target, true))
        return 0;
    for (int i = first; i < count_; ++i)
        if (records_[i].kind == Move) {
            records_[i].opensStep = true;
            break;
        }
    return 1;
}

const wchar_t* FileJournal::StagedFor(const wchar_t* target) const
{
    for (int i = 0; i < count_; ++i) {
        const Record& record = records_[i];
        if (record.kind != Move || !SamePath(record.target.Text(), target))
            continue;
        // The last move onto the target is the new file's.
        for (int j = 0; j < count_; ++j)
            if (records_[j].kind == Scratch && SamePath(records_[j].path.Text(), record.path.Text()))
                return record.path.Text();
    }
    return nullptr;
}

int FileJournal::PlannedMoves() const
{
    int moves = 0;
    for (int i = 0; i < count_; ++i)
        moves += records_[i].kind == Move;
    return moves;
}

// --- the outcome -----------------------------------------------------------------

int FileJournal::Swap()
{
    if (state_ != Preparing || !WriteState(L"prepared"))
        return 0;
    state_ = Prepared;
    for (int i = 0; i < count_; ++i) {
        const Record& record = records_[i];
        if (record.kind != Move)
            continue;
        if (record.opensStep)
            AnnounceReplace(i);
        if (!MoveFileExW(record.path.Text(), record.target.Text(), MOVEFILE_WRITE_THROUGH))
            return 0;
    }
    if (!WriteState(L"swapped"))
        return 0;
    state_ = Swapped;
    return 1;
}

// The step names the target that the group of renames starting at
// `first` replaces: the new name of its last rename.
void FileJournal::AnnounceReplace(int first) const
{
    int last = first;
    for (int i = first + 1; i < count_ && records_[i].kind == Move && !records_[i].opensStep; ++i)
        last = i;
    WideString name;
    FileNameOf(records_[last].target.Text(), name);
    UpdateStep(L"rename %s", name.Text());
}

int FileJournal::Finish()
{
    if (state_ != Done) {
        if (!WriteState(L"done"))
            return 0;
        state_ = Done;
    }
    return RemoveScratch() && Close(true);
}

bool FileJournal::IsMovedFile(const Record& record, const wchar_t* path)
{
    unsigned long long size = 0, written = 0;
    return FileIdentity(path, &size, &written) && size == record.size && written == record.written;
}

FileJournal::MoveState FileJournal::StateOfMove(const Record& record)
{
    if (IsMovedFile(record, record.path.Text()))
        return NotMoved;
    return IsMovedFile(record, record.target.Text()) ? Moved : Lost;
}

// The way back is clear when every moved file is where it was moved to and
// its old name is free, or is the new name of the next newer rename, which
// is undone first (PlanReplace plans the renames of one file together).
int FileJournal::CanUndo(bool* lost) const
{
    *lost = false;
    const Record* newer = nullptr;
    for (int i = count_ - 1; i >= 0; --i) {
        const Record& record = records_[i];
        if (record.kind != Move)
            continue;
        MoveState state = StateOfMove(record);
        // A new file that is nowhere (an earlier rollback deleted it) is
        // not needed for the old version.
        if (state == Lost && record.placesNew)
            state = NotMoved;
        if (state == Lost) {
            *lost = true;
            return 0;
        }
        if (state == Moved && PathExists(record.path.Text()) &&
            !(newer && SamePath(newer->target.Text(), record.path.Text()) &&
              StateOfMove(*newer) == Moved))
            return 0;
        newer = &record;
    }
    return 1;
}

int FileJournal::UndoMove(const Record& record)
{
    if (StateOfMove(record) != Moved)
        return 1;
    for (int attempt = 0; attempt < UndoAttempts; ++attempt) {
        if (attempt)
            Sleep(UndoPause);
        if (MoveFileExW(record.target.Text(), record.path.Text(), MOVEFILE_WRITE_THROUGH))
            return 1;
        if (PathExists(record.path.Text()))
            return 0;
    }
    return 0;
}

int FileJournal::Rollback()
{
    if (state_ != RollingBack) {
        if (!WriteState(L"rollback"))
            return 0;
        state_ = RollingBack;
    }
    bool lost = false;
    if (!CanUndo(&lost))
        return 0;
    for (int i = count_ - 1; i >= 0; --i)
        if (records_[i].kind == Move && !UndoMove(records_[i]))
            return 0;
    int clean = RemoveScratch();
    RemoveNewFolders();
    return Close(clean) && clean;
}

int FileJournal::RemoveScratch()
{
    int all = 1;
    for (int i = 0; i < count_; ++i) {
        if (records_[i].kind != Scratch)
            continue;
        int removed = RemoveFile(records_[i].path.Text());
        for (int attempt = 1; !removed && attempt < RemoveAttempts; ++attempt) {
            Sleep(UndoPause);
            removed = RemoveFile(records_[i].path.Text());
        }
        all &= removed;
    }
    // Working files of the HTTP client and files made just before the
    // record of them was written lie in the same folders; outside the
    // program folder only the recorded ones are touched.
    for (int i = 0; i < count_; ++i) {
        WideString folder, relative;
        if (records_[i].kind == Folder)
            folder = records_[i].path;
        else if (records_[i].kind == Scratch && RelativePath(records_[i].path.Text(), relative))
            DirectoryOf(records_[i].path.Text(), folder);
        if (!folder.IsEmpty())
            RemoveWorkingFiles(folder.Text());
    }
    RemoveWorkingFiles(directory_.Text());
    return all;
}

void FileJournal::RemoveNewFolders()
{
    for (int i = count_ - 1; i >= 0; --i)
        if (records_[i].kind == Folder)
            RemoveDirectoryW(records_[i].path.Text());
}

// `remove`: the journal has nothing left to say and goes.
int FileJournal::Close(bool remove)
{
    if (file_ != INVALID_HANDLE_VALUE)
        CloseHandle(file_);
    file_ = INVALID_HANDLE_VALUE;
    if (!remove || path_.IsEmpty())
        return 1;
    return DeleteFileW(path_.Text()) || GetLastError() == ERROR_FILE_NOT_FOUND;
}

// --- recovery --------------------------------------------------------------------

void FileJournal::RemoveWorkingFiles(const wchar_t* directory)
{
    WideString pattern;
    if (!JoinPath(directory, L"qtm*.tmp", pattern))
        return;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(pattern.Text(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        WideString path;
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
            IsWorkingFileName(found.cFileName) && JoinPath(directory, found.cFileName, path))
            RemoveFile(path.Text());
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

int FileJournal::Recover(const wchar_t* directory)
{
    FileJournal journal;
    if (!journal.directory_.Assign(directory) || journal.directory_.IsEmpty() ||
        (journal.directory_.At(journal.directory_.Length() - 1) != L'\\' &&
         !journal.directory_.Append(L'\\')) ||
        !JoinPath(journal.directory_.Text(), FileName, journal.path_))
        return 0;
    // Exclusive: a journal that another process still writes is not ours
    // to judge.
    journal.file_ = CreateFileW(journal.path_.Text(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (journal.file_ == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND)
            return 0;
        RemoveWorkingFiles(journal.directory_.Text());
        return 1;
    }
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(journal.file_, &size) || size.QuadPart > MostJournalBytes)
        return 0;
    char* bytes = (char*)malloc((size_t)size.QuadPart + 1);
    DWORD read = 0;
    int loaded = bytes && ReadFile(journal.file_, bytes, (DWORD)size.QuadPart, &read, nullptr) &&
                 read == (DWORD)size.QuadPart && journal.Load(bytes, read);
    free(bytes);
    if (!loaded)
        return 0;
    LARGE_INTEGER end = {};
    SetFilePointerEx(journal.file_, end, nullptr, FILE_END);
    // Every rename done: the new version is whole, and only the working
    // files are left. Anything less is undone.
    if (journal.state_ == Swapped || journal.state_ == Done)
        return journal.Finish();
    if (journal.Rollback())
        return 1;
    // A file the rollback needs is gone for good (someone deleted it): when
    // every rename was done, the new version is what the folder can hold.
    bool lost = false;
    if (journal.CanUndo(&lost) || !lost)
        return 0;
    for (int i = 0; i < journal.count_; ++i)
        if (journal.records_[i].kind == Move && StateOfMove(journal.records_[i]) == NotMoved)
            return 0;
    journal.state_ = Swapped;
    return journal.Finish();
}

// Only whole lines count: a line cut off by a power cut is no line.
int FileJournal::Load(const char* bytes, DWORD size)
{
    DWORD start = 0;
    for (DWORD i = 0; i < size; ++i) {
        if (bytes[i] != '\n')
            continue;
        WideString line;
        if (i > start && !line.FromMultiByte(bytes + start, (int)(i - start), CP_UTF8))
            return 0;
        start = i + 1;
        if (!ParseLine(line))
            return 0;
    }
    return 1;
}

int FileJournal::ResolvePath(const wchar_t* text, bool outsideAllowed, WideString& path) const
{
    if (!outsideAllowed) {
        WideString relative;
        return MakeSafeRelativePath(text, relative) && JoinInside(directory_.Text(), relative.Text(), path);
    }
    // A working file outside the folder: an absolute path whose file name
    // is a working file's, so that a damaged journal can delete nothing else.
    WideString name;
    FileNameOf(text, name);
    bool absolute = (text[0] && text[1] == L':' && text[2] == L'\\') ||
                    (text[0] == L'\\' && text[1] == L'\\');
    for (const wchar_t* p = text; *p; ++p)
        if (*p < 0x20)
            return 0;
    return absolute && IsWorkingFileName(name.Text()) && path.Assign(text);
}

// Lines that cannot be read are skipped: they can only name less to undo.
int FileJournal::ParseLine(const WideString& line)
{
    static const struct {
        const wchar_t* word;
        State state;
    } States[] = {{L"prepared", Prepared}, {L"swapped", Swapped}, {L"done", Done},
                  {L"rollback", RollingBack}};
    for (const auto& known : States) {
        if (line == known.word) {
            if (state_ != RollingBack)
                state_ = known.state;
            return 1;
        }
    }
    int tab = line.Find(L"\t");
    if (tab < 0)
        return 1;
    WideString word, rest, first, second;
    word.Assign(line.Text(), tab);
    rest.Assign(line.Text() + tab + 1);
    if (word == L"folder" || word == L"scratch" || word == L"outside") {
        if (!ResolvePath(rest.Text(), word == L"outside", first))
            return 1;
        return Add(word == L"folder" ? Folder : Scratch, first.Text(), nullptr);
    }
    // move or place, old name, new name, size, last-write time
    if (word != L"move" && word != L"place")
        return 1;
    WideString fields[4];
    const wchar_t* at = rest.Text();
    for (int i = 0; i < 4; ++i) {
        const wchar_t* end = wcschr(at, i < 3 ? L'\t' : L'\0');
        if (!end || !fields[i].Assign(at, (int)(end - at)))
            return 1;
        at = end + (i < 3);
    }
    wchar_t* stop = nullptr;
    unsigned long long size = _wcstoui64(fields[2].Text(), &stop, 10);
    if (fields[2].IsEmpty() || *stop)
        return 1;
    unsigned long long written = _wcstoui64(fields[3].Text(), &stop, 10);
    if (fields[3].IsEmpty() || *stop || !ResolvePath(fields[0].Text(), false, first) ||
        !ResolvePath(fields[1].Text(), false, second))
        return 1;
    return Add(Move, first.Text(), second.Text(), size, written, word == L"place");
}

#include "update/FileJournal.h"

#include "services/ModulePath.h"
#include "update/InstallPath.h"
#include "update/UpdateSteps.h"

#include <initializer_list>
#include <new>
#include <stdlib.h>
#include <wchar.h>

const wchar_t FileJournal::FileName[] = L"Quillmere.journal";
const wchar_t FileJournal::RejectedName[] = L"Quillmere.journal.rejected";
const wchar_t FileJournal::UnfinishedName[] = L"Quillmere.journal.unfinished";

namespace {

const char Header[] = "Quillmere update journal 1";
// A journal is a few lines per file of an update; anything larger is not
// one of ours.
const DWORD MostJournalBytes = 16 * 1024 * 1024;
// A 64-bit number has at most 20 decimal digits.
const int MostDigits = 20;

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

// A decimal number as this class writes it: digits only, within 64 bits.
int ParseNumber(const WideString& text, unsigned long long* value)
{
    if (text.IsEmpty() || text.Length() > MostDigits)
        return 0;
    unsigned long long result = 0;
    for (int i = 0; i < text.Length(); ++i) {
        wchar_t ch = text.At(i);
        if (ch < L'0' || ch > L'9')
            return 0;
        unsigned digit = (unsigned)(ch - L'0');
        if (result > (0xFFFFFFFFFFFFFFFFull - digit) / 10)
            return 0;
        result = result * 10 + digit;
    }
    *value = result;
    return 1;
}

// A relative path exactly as the journal writes it: the form
// MakeSafeRelativePath gives, unchanged.
bool IsWrittenRelativePath(const wchar_t* text)
{
    WideString relative;
    bool directory = false;
    return MakeSafeRelativePath(text, relative, &directory) && !directory && relative == text;
}

// A working file outside the folder as the journal writes it: an absolute
// path (a drive's or a share's) without "." or ".." components or control
// characters, whose file name is a working file's.
bool IsWrittenOutsidePath(const wchar_t* text)
{
    bool drive = ((text[0] >= L'A' && text[0] <= L'Z') || (text[0] >= L'a' && text[0] <= L'z')) &&
                 text[1] == L':' && text[2] == L'\\';
    bool share = text[0] == L'\\' && text[1] == L'\\' && text[2] && text[2] != L'\\';
    if (!drive && !share)
        return false;
    const wchar_t* at = text + (drive ? 3 : 2);
    for (;;) {
        const wchar_t* end = at;
        while (*end && *end != L'\\') {
            if (*end < 0x20 || *end == 0x7F || *end == L'/')
                return false;
            ++end;
        }
        int length = (int)(end - at);
        if (length == 0 || (length == 1 && at[0] == L'.') ||
            (length == 2 && at[0] == L'.' && at[1] == L'.'))
            return false;
        if (!*end)
            return IsWorkingFileName(at);
        at = end + 1;
    }
}

// Splits `line` at its tabs into exactly `count` fields.
int SplitFields(const WideString& line, WideString* fields, int count)
{
    const wchar_t* at = line.Text();
    for (int i = 0; i < count; ++i) {
        const wchar_t* end = wcschr(at, L'\t');
        if ((i < count - 1) != (end != nullptr))
            return 0;
        if (!end)
            end = at + wcslen(at);
        if (!fields[i].Assign(at, (int)(end - at)))
            return 0;
        at = end + 1;
    }
    return 1;
}

} // namespace

FileJournal::~FileJournal()
{
    ReleaseHolds();
    Close(false);
    delete[] records_;
}

int FileJournal::OpenFolder(const wchar_t* directory)
{
    return directory_.Assign(directory) && !directory_.IsEmpty() &&
           (directory_.At(directory_.Length() - 1) == L'\\' || directory_.Append(L'\\')) &&
           JoinPath(directory_.Text(), FileName, path_);
}

int FileJournal::Begin(const wchar_t* directory)
{
    CriticalSectionLock lock(lock_);
    if (abandoned_)
        return 0;
    ReleaseHolds();
    Close(false);
    delete[] records_;
    records_ = nullptr;
    count_ = capacity_ = 0;
    state_ = Preparing;
    if (!OpenFolder(directory))
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
    record.held = INVALID_HANDLE_VALUE;
    record.keepsOld = false;
    if (!record.path.Assign(path) || !record.target.Assign(target ? target : L""))
        return 0;
    // A journal being recovered is only read; a live one records first.
    if (recording_ && !WriteRecord(record))
        return 0;
    ++count_;
    return 1;
}

// Newest first: a working file is asked for right after it was made.
FileJournal::Record* FileJournal::ScratchRecord(const wchar_t* path)
{
    for (int i = count_ - 1; i >= 0; --i)
        if (records_[i].kind == Scratch && SamePath(records_[i].path.Text(), path))
            return &records_[i];
    return nullptr;
}

// --- preparation ---------------------------------------------------------------

int FileJournal::CreateParents(const wchar_t* path)
{
    CriticalSectionLock lock(lock_);
    if (abandoned_)
        return 0;
    WideString parent;
    DirectoryOf(path, parent);
    parent.Truncate(parent.Length() - 1); // without its trailing backslash
    return parent.IsEmpty() || CreateDirectories(parent.Text());
}

int FileJournal::CreateDirectories(const wchar_t* directory)
{
    CriticalSectionLock lock(lock_);
    if (abandoned_)
        return 0;
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
    CriticalSectionLock lock(lock_);
    if (abandoned_)
        return 0;
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

// Readers may come (the checks of a program image and its version read it
// by name), writers may not; a rename may, since the staged file is meant
// to move.
int FileJournal::Hold(Record& scratch)
{
    if (scratch.held != INVALID_HANDLE_VALUE)
        return 1;
    if (!FlushFile(scratch.path.Text()))
        return 0;
    scratch.held = CreateFileW(scratch.path.Text(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    return scratch.held != INVALID_HANDLE_VALUE;
}

void FileJournal::ReleaseHolds()
{
    for (int i = 0; i < count_; ++i) {
        if (records_[i].held != INVALID_HANDLE_VALUE)
            CloseHandle(records_[i].held);
        records_[i].held = INVALID_HANDLE_VALUE;
    }
}

int FileJournal::HoldStaged(const wchar_t* scratch)
{
    CriticalSectionLock lock(lock_);
    Record* record = abandoned_ ? nullptr : ScratchRecord(scratch);
    return record && Hold(*record);
}

// A free name beside `path` for the file there to move to; recorded as a
// working file, so it goes at Finish.
int FileJournal::ReserveAside(const wchar_t* path, WideString& aside)
{
    if (!FreeScratchName(path, aside) || !Add(Scratch, aside.Text(), nullptr))
        return 0;
    records_[count_ - 1].keepsOld = true;
    return 1;
}

int FileJournal::AddMove(const wchar_t* from, const wchar_t* to, bool placesNew)
{
    unsigned long long size = 0, written = 0;
    return FileIdentity(from, &size, &written) && Add(Move, from, to, size, written, placesNew);
}

int FileJournal::PlanReplace(const wchar_t* staged, const wchar_t* target, const wchar_t* oldCopy)
{
    CriticalSectionLock lock(lock_);
    Record* scratch = abandoned_ ? nullptr : ScratchRecord(staged);
    if (!scratch || IsDirectory(target) || (oldCopy && IsDirectory(oldCopy)) || StagedFor(target) ||
        !Hold(*scratch))
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
    CriticalSectionLock lock(lock_);
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
    CriticalSectionLock lock(lock_);
    int moves = 0;
    for (int i = 0; i < count_; ++i)
        moves += records_[i].kind == Move;
    return moves;
}

// --- the outcome -----------------------------------------------------------------

int FileJournal::Swap()
{
    CriticalSectionLock lock(lock_);
    if (abandoned_ || state_ != Preparing || !WriteState(L"prepared"))
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
    ReleaseHolds();
    RemoveStagedOnly();
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

// The working files in the folder that hold no old file (a downloaded
// archive, a new file now in its place) are of no use to a rollback.
// Outside the folder lies only an installer, which is placed later.
void FileJournal::RemoveStagedOnly()
{
    for (int i = 0; i < count_; ++i) {
        WideString relative;
        if (records_[i].kind == Scratch && !records_[i].keepsOld &&
            RelativePath(records_[i].path.Text(), relative))
            RemoveFile(records_[i].path.Text());
    }
}

void FileJournal::LeaveOnTrial()
{
    CriticalSectionLock lock(lock_);
    ReleaseHolds();
    Close(false);
}

int FileJournal::Finish()
{
    CriticalSectionLock lock(lock_);
    return !abandoned_ && FinishLocked();
}

int FileJournal::FinishLocked()
{
    if (state_ != Done) {
        if (!WriteState(L"done"))
            return 0;
        state_ = Done;
    }
    ReleaseHolds();
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
    for (int attempt = 0; attempt < undoAttempts_; ++attempt) {
        if (attempt) {
            WideString name;
            FileNameOf(record.target.Text(), name);
            UpdateStep(L"wait for %s", name.Text());
            Sleep(UndoPause);
        }
        if (MoveFileExW(record.target.Text(), record.path.Text(), MOVEFILE_WRITE_THROUGH))
            return 1;
        if (PathExists(record.path.Text()))
            return 0;
    }
    return 0;
}

// Every rename undone, newest first, once the whole way back is clear.
int FileJournal::UndoAll()
{
    if (state_ != RollingBack) {
        if (!WriteState(L"rollback"))
            return 0;
        state_ = RollingBack;
    }
    ReleaseHolds();
    bool lost = false;
    if (!CanUndo(&lost))
        return 0;
    for (int i = count_ - 1; i >= 0; --i)
        if (records_[i].kind == Move && !UndoMove(records_[i]))
            return 0;
    return 1;
}

int FileJournal::Rollback()
{
    CriticalSectionLock lock(lock_);
    if (abandoned_ || !UndoAll())
        return 0;
    int clean = RemoveScratch();
    RemoveNewFolders();
    return Close(clean) && clean;
}

void FileJournal::Abandon()
{
    CriticalSectionLock lock(lock_);
    if (abandoned_)
        return;
    abandoned_ = true;
    ReleaseHolds();
    if (!recording_ || state_ != Preparing) {
        Close(false);
        return;
    }
    RemoveScratch();
    RemoveNewFolders();
    Close(true);
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

// The record, closed, takes the name `name` beside it, replacing an earlier
// one of that name: it is kept for whoever wants to know what happened.
int FileJournal::SetAside(const wchar_t* name)
{
    Close(false);
    WideString aside;
    return JoinPath(directory_.Text(), name, aside) &&
           MoveFileExW(path_.Text(), aside.Text(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
}

// A start whose recovery could not be completed: counted in the record,
// told once, and after StuckStarts of them the record is set aside.
int FileJournal::CountStuckStart(Notice* notice)
{
    bool counted = WriteState(L"stuck") != 0;
    if (counted)
        ++stuckStarts_;
    // A record that cannot even be written cannot remember having told.
    if (notice && (!counted || stuckStarts_ == 1))
        *notice = RecoveryStuck;
    if (counted && stuckStarts_ >= StuckStarts)
        SetAside(UnfinishedName);
    return 0;
}

int FileJournal::Recover(const wchar_t* directory, RecoveryMode mode, Notice* notice,
                         bool* countedStart)
{
    if (notice)
        *notice = NothingToTell;
    if (countedStart)
        *countedStart = false;
    FileJournal journal;
    if (!journal.OpenFolder(directory))
        return 0;
    // Exclusive: a journal that another process still writes is not ours
    // to judge.
    journal.file_ = CreateFileW(journal.path_.Text(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (journal.file_ == INVALID_HANDLE_VALUE) {
        if (GetLastError() != ERROR_FILE_NOT_FOUND)
            return 0;
        // A record set aside may name working files that hold old files.
        WideString aside;
        for (const wchar_t* name : {RejectedName, UnfinishedName})
            if (JoinPath(journal.directory_.Text(), name, aside) && PathExists(aside.Text()))
                return 1;
        RemoveWorkingFiles(journal.directory_.Text());
        return 1;
    }
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(journal.file_, &size) || size.QuadPart > MostJournalBytes) {
        if (mode == AtStart && journal.SetAside(RejectedName) && notice)
            *notice = RecordRejected;
        return 0;
    }
    char* bytes = (char*)malloc((size_t)size.QuadPart + 1);
    DWORD read = 0;
    int readAll = bytes && ReadFile(journal.file_, bytes, (DWORD)size.QuadPart, &read, nullptr) &&
                  read == (DWORD)size.QuadPart;
    int loaded = readAll && journal.Load(bytes, read);
    free(bytes);
    if (!readAll)
        return 0;
    if (!loaded) {
        // Never acted on: not a single line of it.
        if (mode == AtStart && journal.SetAside(RejectedName) && notice)
            *notice = RecordRejected;
        return 0;
    }
    LARGE_INTEGER end = {};
    SetFilePointerEx(journal.file_, end, nullptr, FILE_END);
    return journal.RecoverOpened(mode, notice, countedStart);
}

int FileJournal::RecoverOpened(RecoveryMode mode, Notice* notice, bool* countedStart)
{
    if (mode == AtStart)
        undoAttempts_ = UndoAttemptsAtStart;
    if (state_ == Done)
        return FinishLocked();
    if (state_ == Swapped) {
        // The program that installs a newer version has run long enough.
        if (mode == BeforeInstall)
            return FinishLocked();
        if (trialStarts_ + 1 < TrialStarts) {
            if (WriteState(L"start")) {
                ++trialStarts_;
                if (countedStart)
                    *countedStart = true;
            }
            return 1;
        }
        // The last start of a version that never passed: back to the old one.
    }
    if (UndoAll()) {
        // The old version is whole; working files still in use go next time.
        int clean = RemoveScratch();
        RemoveNewFolders();
        Close(clean);
        return 1;
    }
    // A file the rollback needs is gone for good (someone deleted it): when
    // every rename was done, the new version is what the folder can hold.
    bool lost = false;
    if (!CanUndo(&lost) && lost) {
        bool allMoved = true;
        for (int i = 0; i < count_; ++i)
            if (records_[i].kind == Move && StateOfMove(records_[i]) == NotMoved)
                allMoved = false;
        if (allMoved) {
            state_ = Swapped;
            return FinishLocked();
        }
    }
    return mode == AtStart ? CountStuckStart(notice) : 0;
}

int FileJournal::PassTrial(const wchar_t* directory, unsigned long long size,
                           unsigned long long written)
{
    FileJournal journal;
    if (!journal.OpenFolder(directory))
        return 0;
    journal.file_ = CreateFileW(journal.path_.Text(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    LARGE_INTEGER length = {};
    if (journal.file_ == INVALID_HANDLE_VALUE || !GetFileSizeEx(journal.file_, &length) ||
        length.QuadPart > MostJournalBytes)
        return 0;
    char* bytes = (char*)malloc((size_t)length.QuadPart + 1);
    DWORD read = 0;
    int loaded = bytes && ReadFile(journal.file_, bytes, (DWORD)length.QuadPart, &read, nullptr) &&
                 read == (DWORD)length.QuadPart && journal.Load(bytes, read);
    free(bytes);
    if (!loaded || journal.state_ != Swapped)
        return 0;
    bool placedByIt = false;
    for (int i = 0; i < journal.count_; ++i) {
        const Record& record = journal.records_[i];
        placedByIt |= record.kind == Move && record.placesNew && record.size == size &&
                      record.written == written;
    }
    if (!placedByIt)
        return 0;
    LARGE_INTEGER end = {};
    SetFilePointerEx(journal.file_, end, nullptr, FILE_END);
    return journal.FinishLocked();
}

// Only whole lines count: a line cut off by a power cut is no line. Every
// whole line must be one this class writes, the header first.
int FileJournal::Load(const char* bytes, DWORD size)
{
    headerSeen_ = false;
    DWORD start = 0;
    for (DWORD i = 0; i < size; ++i) {
        if (bytes[i] == 0)
            return 0;
        if (bytes[i] != '\n')
            continue;
        int length = (int)(i - start);
        WideString line;
        if (length == 0)
            return 0;
        int needed = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes + start, length,
                                         nullptr, 0);
        if (needed <= 0 || !line.Reserve(needed + 1) ||
            MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes + start, length,
                                line.Buffer(), needed) != needed)
            return 0;
        line.SetLength(needed);
        start = i + 1;
        if (!ParseLine(line))
            return 0;
    }
    // A journal that a kill cut off before its first line names nothing.
    return 1;
}

int FileJournal::ParseLine(const WideString& line)
{
    if (!headerSeen_) {
        WideString header;
        headerSeen_ = header.FromMultiByte(Header, -1, CP_UTF8) && line == header.Text();
        return headerSeen_;
    }
    bool known = false;
    int ok = ParseState(line, &known);
    if (known)
        return ok;
    // Records are all written before the first state line.
    return state_ == Preparing && ParseRecord(line);
}

// The state lines, each only where the class writes it.
int FileJournal::ParseState(const WideString& line, bool* known)
{
    *known = true;
    if (line == L"prepared" && state_ == Preparing)
        state_ = Prepared;
    else if (line == L"swapped" && state_ == Prepared)
        state_ = Swapped;
    else if (line == L"start" && state_ == Swapped)
        ++trialStarts_;
    else if (line == L"done" && (state_ == Swapped || state_ == RollingBack))
        state_ = Done;
    else if (line == L"rollback" && state_ != Done && state_ != RollingBack)
        state_ = RollingBack;
    else if (line == L"stuck" && state_ != Done)
        ++stuckStarts_;
    else {
        *known = false;
        for (const wchar_t* word : {L"prepared", L"swapped", L"start", L"done", L"rollback", L"stuck"})
            if (line == word)
                *known = true;
        return 0;
    }
    return 1;
}

int FileJournal::ParseRecord(const WideString& line)
{
    int tab = line.Find(L"\t");
    if (tab < 0)
        return 0;
    WideString word;
    word.Assign(line.Text(), tab);
    WideString fields[5], first, second;
    if (word == L"folder" || word == L"scratch" || word == L"outside") {
        if (!SplitFields(line, fields, 2))
            return 0;
        const wchar_t* text = fields[1].Text();
        WideString name;
        FileNameOf(text, name);
        if (word == L"outside")
            return IsWrittenOutsidePath(text) && Add(Scratch, text, nullptr);
        if (!IsWrittenRelativePath(text) || (word == L"scratch" && !IsWorkingFileName(name.Text())) ||
            !JoinInside(directory_.Text(), text, first))
            return 0;
        return Add(word == L"folder" ? Folder : Scratch, first.Text(), nullptr);
    }
    // move or place, old name, new name, size, last-write time
    unsigned long long size = 0, written = 0;
    if ((word != L"move" && word != L"place") || !SplitFields(line, fields, 5) ||
        !IsWrittenRelativePath(fields[1].Text()) || !IsWrittenRelativePath(fields[2].Text()) ||
        !ParseNumber(fields[3], &size) || !ParseNumber(fields[4], &written) ||
        !JoinInside(directory_.Text(), fields[1].Text(), first) ||
        !JoinInside(directory_.Text(), fields[2].Text(), second))
        return 0;
    // A new file comes from a working file recorded before it.
    bool placesNew = word == L"place";
    if (placesNew && !ScratchRecord(first.Text()))
        return 0;
    return Add(Move, first.Text(), second.Text(), size, written, placesNew);
}

#pragma once

#include <windows.h>
#include <unknwn.h>

#include "services/HttpClient.h"
#include "services/WideString.h"
#include "services/XmlDocument.h"
#include "ui/VersionText.h"
#include "update/FileJournal.h"
#include "update/UpdateSignature.h"

// One "url" element of the answer's "update\files": where a file comes from,
// what it becomes, and the maker's word for it.
struct UpdateFile {
    WideString url;       // the element's own text
    WideString name;      // the program file it replaces; empty: an installer to run
    WideString zip;       // the archive it arrives in, or empty
    WideString sha256;    // the file's digest, 64 lower-case hexadecimal digits
    WideString signature; // Base64 of the maker's signature (UpdateSignature.h)
};

// Brings an update's files in beside the program in two stages. Check looks
// at the answer alone: every file must come over HTTPS and carry the
// maker's signature for the offered version, before anything is fetched.
// Prepare then downloads and verifies each file, extracts the archives and
// plans the renames in the journal, all beside the targets; the program's
// files change only when the caller swaps the journal.
class UpdateFiles {
public:
    typedef void (*ProgressReport)(int permille, void* data);

    static const int MostFiles = 256;
    static const unsigned long long MostFileBytes = 64ull * 1024 * 1024;
    static const unsigned long long MostUpdateBytes = 256ull * 1024 * 1024;
    // Connecting and each wait for bytes, where WinINet honours it.
    static const DWORD NetworkTimeout = 30000;

    // `programDirectory` holds the program's files; an installer goes to
    // `installerDirectory`. Both with or without a trailing backslash.
    UpdateFiles(HttpClient& http, const wchar_t* programDirectory,
                const wchar_t* installerDirectory);
    ~UpdateFiles();
    UpdateFiles(const UpdateFiles&) = delete;
    UpdateFiles& operator=(const UpdateFiles&) = delete;

    // Takes the "url" children of "update\files" below `base` (or the
    // document element), and its "execute". 0 when there are more than
    // MostFiles.
    [[nodiscard]] int Read(XmlDocument& answer, IUnknown* base);
    int Count() const { return count_; }
    const UpdateFile& File(int index) const { return files_[index]; }

    // 1 when the update may be offered: there is at least one file, every
    // URL is https, every file is validly signed by one of `keys` for
    // `version`, names are safe and no two files name one target, at most
    // one installer is named and there is an installer directory for it,
    // and the program to start afterwards (the relative path in "execute",
    // else the running program's file name `programName`) is a program file
    // ending in ".exe" that the update brings, unless the update is an
    // installer alone.
    [[nodiscard]] int Check(const wchar_t* version, const wchar_t* programName,
                            const UpdatePublicKey* keys, int keyCount);
    // Whether the update brings program files (not an installer alone).
    bool HasProgramFiles() const;

    // Downloads every file to a working file beside its target, holds it
    // against writers, checks its size, digest and processor, extracts
    // archives the same way, flushes them and plans the renames in
    // `journal` (begun here in the program directory). The new program's
    // version resource must state the offered version. 0 when anything
    // fails or `stop` is set: the caller rolls the journal back; nothing of
    // the program's files changed.
    [[nodiscard]] int Prepare(FileJournal& journal, const volatile LONG* stop);

    // After the swap: the downloaded installer takes a name of its own in
    // the installer directory, never one that exists (a second "setup.exe"
    // becomes "setup (2).exe").
    [[nodiscard]] int PlaceInstaller();
    // Starts the placed installer, whose bytes were held against writers
    // from their check until now. 1 when the shell started it.
    [[nodiscard]] int RunInstaller();
    // The installer to run instead of restarting, once placed; else empty.
    const wchar_t* InstallerPath() const { return installer_.Text(); }
    // The program to start after the swap; empty for an installer alone.
    const wchar_t* NewProgramPath() const { return newProgram_.Text(); }

    void ReportProgress(ProgressReport report, void* data)
    {
        progress_ = report;
        progressData_ = data;
    }

private:
    static int DownloadAnswer(int code, void* value, void* data);

    int Add(IUnknown* element, XmlDocument& answer);
    int SignedName(const UpdateFile& file, WideString& name) const;
    int CheckNames(const wchar_t* programName);
    int PrepareFile(int index, FileJournal& journal);
    int ProgramPath(const wchar_t* name, const wchar_t* suffix, WideString& path) const;
    int CheckDownload(const UpdateFile& file, const wchar_t* path);
    int CheckNewProgram(const FileJournal& journal) const;
    bool Stopped() const { return stop_ && *stop_; }
    void ReleaseInstaller();

    HttpClient& http_;
    WideString programDirectory_;
    WideString installerDirectory_;
    UpdateFile* files_ = nullptr;
    int count_ = 0;
    WideString execute_;
    WideString version_;
    VersionNumbers offered_;
    WideString newProgram_;
    WideString installerScratch_;
    WideString installerName_;
    WideString installer_;
    // The downloaded installer, held against writers until it runs.
    HANDLE installerHold_ = INVALID_HANDLE_VALUE;
    unsigned long long downloaded_ = 0;
    const volatile LONG* stop_ = nullptr;
    int current_ = 0;
    long long length_ = -1;
    int lastPermille_ = -1;
    ProgressReport progress_ = nullptr;
    void* progressData_ = nullptr;
};

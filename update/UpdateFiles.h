#pragma once

#include <windows.h>
#include <unknwn.h>

#include "services/HttpClient.h"
#include "services/WideString.h"
#include "services/XmlDocument.h"
#include "update/FileJournal.h"

// One "url" element of the answer's "update\files": where a file comes from
// and what it becomes.
struct UpdateFile {
    WideString url;    // the element's own text
    WideString name;   // the program file it replaces; empty: an installer to run
    WideString zip;    // the archive it arrives in, or empty
    WideString sha256; // the digest it must have, or empty
};

// The passes over an update's files.
enum UpdatePass {
    UpdateDownloadPass = 1,
    UpdateBackUpPass = 2,
    UpdateInstallPass = 3,
};

// Brings an update's files into the program's directory in three passes:
// every file is downloaded beside its target with "_new" in its name, then
// every program file is renamed to its "_old" name, then every new file takes
// its place (or its archive is extracted). Whatever fails on the way, the
// directory is put back as it was: the original, runnable program, with
// no "_new" files or temporaries left.
class UpdateFiles {
public:
    // Sees each step before it is taken: the pass, the file's index and the
    // file. Nothing the program needs; tests lock files here.
    typedef void (*StepObserver)(UpdatePass pass, int index, const UpdateFile& file, void* data);

    static const int MostFiles = 256;
    static const unsigned long long MostFileBytes = 64ull * 1024 * 1024;
    static const unsigned long long MostUpdateBytes = 256ull * 1024 * 1024;

    // `programDirectory` holds the program's files; an installer goes to
    // `installerDirectory`. Both with or without a trailing backslash.
    UpdateFiles(HttpClient& http, const wchar_t* programDirectory,
                const wchar_t* installerDirectory);
    ~UpdateFiles();
    UpdateFiles(const UpdateFiles&) = delete;
    UpdateFiles& operator=(const UpdateFiles&) = delete;

    // Takes the "url" children of "update\files" below `base` (or the
    // document element). 0 when there are more than MostFiles.
    int Read(XmlDocument& answer, IUnknown* base);
    int Count() const { return count_; }
    const UpdateFile& File(int index) const { return files_[index]; }

    void Observe(StepObserver observer, void* data)
    {
        observer_ = observer;
        observerData_ = data;
    }

    // The three passes. 1 when every one went through and the update is in
    // place; otherwise every change is undone and 0 returned.
    int Install();
    // The installer that was downloaded instead of program files, or empty.
    const wchar_t* InstallerPath() const { return installer_.Text(); }

private:
    static int DownloadAnswer(int code, void* value, void* data);

    int Add(IUnknown* element, XmlDocument& answer);
    int RunPass(UpdatePass pass);
    int DownloadStep(const UpdateFile& file);
    int BackUpStep(const UpdateFile& file);
    int InstallStep(const UpdateFile& file);
    int ProgramPath(const wchar_t* name, const wchar_t* suffix, WideString& path) const;
    int InstallerTarget(const UpdateFile& file, WideString& path) const;
    int CheckDownload(const UpdateFile& file, const wchar_t* path);

    HttpClient& http_;
    WideString programDirectory_;
    WideString installerDirectory_;
    UpdateFile* files_ = nullptr;
    int count_ = 0;
    FileJournal journal_;
    WideString installer_;
    unsigned long long downloaded_ = 0;
    StepObserver observer_ = nullptr;
    void* observerData_ = nullptr;
};

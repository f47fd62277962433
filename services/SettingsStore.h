#pragma once

#include <windows.h>

#include "services/IniFile.h"
#include "services/RegistryKey.h"
#include "services/WideString.h"
#include "services/XmlDocument.h"

// Everything the program keeps between runs, behind one set of typed
// operations over the registry, an INI file or an XML file. Reads fall back
// to the caller's default; writes report 1 or 0.
class SettingsStore {
public:
    enum BackEnd : DWORD {
        StoreRegistry = 1,
        StoreIni = 2,
        StoreXml = 4,
    };

    SettingsStore() = default;
    ~SettingsStore() { Close(); }
    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    // Registry: values under `root`\`keyPath`. INI: the file `filePath` (a
    // bare name lies beside the executable), by default the executable's
    // name with ".ini". XML: the element `keyPath` (by default the
    // executable's name) of the file `filePath`, by default the executable's
    // name with ".xml" beside it. Returns 0 only when an existing XML file
    // cannot be loaded; that file is then never written over.
    int Open(DWORD backEnd, HKEY root, const wchar_t* keyPath, const wchar_t* filePath = nullptr);
    // INI: frees the cached buffers. XML: writes the document when anything
    // was changed (through a temporary file, so a failed save leaves the old
    // file as it was) and returns whether that worked.
    int Close();

    unsigned long long ReadNumber(const wchar_t* name, unsigned long long fallback,
                                  const wchar_t* subKey = nullptr, IUnknown* element = nullptr);
    int WriteNumber(const wchar_t* name, unsigned long long value, const wchar_t* subKey = nullptr,
                    IUnknown* element = nullptr);
    // `text` receives the stored text or `fallback` (empty when none); the
    // result tells whether a stored text was found (always 1 for INI files).
    // The XML file ignores `fallback`: a missing text reads as empty.
    [[nodiscard]] int ReadText(const wchar_t* name, WideString& text, const wchar_t* fallback = nullptr,
                 const wchar_t* subKey = nullptr, IUnknown* element = nullptr);
    int WriteText(const wchar_t* name, const wchar_t* text, const wchar_t* subKey = nullptr,
                  IUnknown* element = nullptr);
    // The buffer is zero-filled first; a stored block of another size fails.
    // The XML file keeps no blocks.
    [[nodiscard]] int ReadBlock(const wchar_t* name, void* buffer, DWORD size, const wchar_t* subKey = nullptr);
    int WriteBlock(const wchar_t* name, const void* data, DWORD size, const wchar_t* subKey = nullptr);

    DWORD ActiveBackEnd() const;
    const wchar_t* FilePath() const { return filePath_.Text(); }
    const wchar_t* KeyPath() const { return keyPath_.Text(); }
    // The XML back end's document, for callers that locate elements themselves.
    XmlDocument& Document() { return xml_; }

    // "%I64u" as the C library reads it: leading blanks, an optional sign,
    // then digits up to the first other character. 0 when there is no digit
    // or the number does not fit in 64 bits.
    static int ParseNumber(const wchar_t* text, unsigned long long* value);
    // The file name used when the caller gives none, from the executable's path.
    static int DefaultFileName(const wchar_t* executablePath, DWORD backEnd, WideString& name);

private:
    [[nodiscard]] int OpenXml(bool fileGiven);
    int RegistryPath(const wchar_t* subKey, WideString& path) const;
    int XmlElementPath(const wchar_t* subKey, WideString& path) const;
    int XmlValuePath(const wchar_t* name, const wchar_t* subKey, WideString& path) const;
    int XmlReadText(const wchar_t* name, const wchar_t* subKey, IUnknown* element, WideString& text);
    int XmlWriteText(const wchar_t* name, const wchar_t* text, const wchar_t* subKey, IUnknown* element);
    int RegistryReadText(const wchar_t* name, const wchar_t* subKey, WideString& text);

    DWORD backEnd_ = 0;
    IniFile ini_;
    HKEY root_ = nullptr;
    WideString filePath_;
    WideString keyPath_;
    RegistryKey key_;
    XmlDocument xml_;
    // The document may be written back: it was loaded or there was no file.
    bool xmlWritable_ = false;
    bool xmlChanged_ = false;
};

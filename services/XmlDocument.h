#pragma once

#include "services/XmlDomBackend.h"
#include "services/XmlLegacyBackend.h"

// A small XML document read and written through backslash paths such as
// "update\version". It uses the MSXML DOM where one can be created and the
// older XML object model otherwise; every operation returns 1 or 0, and 0
// while no document is open.
class XmlDocument {
public:
    enum Backend { NoBackend, DomBackend, LegacyBackend };

    XmlDocument();
    ~XmlDocument();
    XmlDocument(const XmlDocument&) = delete;
    XmlDocument& operator=(const XmlDocument&) = delete;

    // Initialises COM for this thread and opens an empty document with the
    // DOM, else with the legacy parser. `flags` are XmlOpenFlag bits.
    [[nodiscard]] int Open(DWORD flags);
    // The same with one given parser only.
    [[nodiscard]] int OpenBackend(Backend backend, DWORD flags);
    // Drops the document and undoes this object's COM initialisation.
    void Close();
    Backend ActiveBackend() const;

    [[nodiscard]] int LoadText(const wchar_t* text);
    [[nodiscard]] int LoadFile(const wchar_t* path);
    int NodeXml(IUnknown* node, WideString& text);
    int DocumentXml(WideString& text);
    // Writes a temporary file beside `path` and puts it in place only when it
    // was written completely, so a failed save never damages the old file.
    // A read-only file is left alone and the save fails.
    int SaveFile(const wchar_t* path);
    int ReadPath(const wchar_t* path, WideString& text, IUnknown* start = nullptr);
    [[nodiscard]] int FindChild(const wchar_t* name, XmlVisitor visitor, void* data, WideString& text,
                  IUnknown** current);
    int EnumeratePath(const wchar_t* path, XmlVisitor visitor, void* data, IUnknown* start = nullptr);
    [[nodiscard]] int CreateElement(IUnknown* parent, const wchar_t* name, const wchar_t* text, IUnknown** element);
    int SetText(IUnknown* node, const wchar_t* text);
    int SetAttribute(IUnknown* element, const wchar_t* name, const wchar_t* value);
    int AddProcessingInstruction(const wchar_t* target, const wchar_t* data);
    int RemoveNode(IUnknown* parent, IUnknown* node);

    // The attribute or child `name` of `element` (none: the document
    // element), or nullptr; the caller releases it.
    IUnknown* FindChildOf(IUnknown* element, const wchar_t* name, WideString& text);
    // Follows `path` from `start` (or the document), creating each missing
    // element; returns the last node (the caller releases it) or nullptr.
    // The document element is never replaced: a path whose first component
    // names another root fails.
    IUnknown* FindOrCreatePath(const wchar_t* path, IUnknown* start = nullptr);

private:
    XmlBackend* Active() const;

    XmlDomBackend dom_;
    XmlLegacyBackend legacy_;
    Backend active_ = NoBackend;
    int comInitialized_ = 0;
};

#pragma once

#include <windows.h>
#include <unknwn.h>
#include <oleauto.h>

#include "services/WideString.h"

class XmlDocument;

// Open flags of a document.
enum XmlOpenFlag : DWORD {
    XmlNoValidation = 0x1, // validation on parse off
    XmlNoExternals = 0x2,  // resolving external references off
    XmlAllowDtd = 0x4,     // the DOM property "ProhibitDTD" set to false
};

// What a visitor is shown.
enum XmlNodeKind {
    XmlChildNode = 0, // an element or another child node
    XmlAttributeNode = 1,
};

// Called for each node of a walk with the node (borrowed: AddRef to keep it),
// its name and its text; returning 1 stops the walk at that node.
typedef int (*XmlVisitor)(int kind, IUnknown* node, const wchar_t* name, const wchar_t* value,
                          void* data, XmlDocument* owner);

// One XML parser behind the document. Nodes travel as COM pointers: whoever
// receives one releases it; nodes passed in are only borrowed. Paths are
// element and attribute names separated by backslashes.
class XmlBackend {
public:
    explicit XmlBackend(XmlDocument* owner) : owner_(owner) {}
    XmlBackend(const XmlBackend&) = delete;
    XmlBackend& operator=(const XmlBackend&) = delete;

    [[nodiscard]] virtual int Open(DWORD flags) = 0;
    virtual void Release() = 0;
    [[nodiscard]] virtual int LoadText(const wchar_t* text) = 0;
    [[nodiscard]] virtual int LoadFile(const wchar_t* path) = 0;
    virtual int NodeXml(IUnknown* node, WideString& text) = 0;
    virtual int DocumentXml(WideString& text) = 0;
    virtual int SaveFile(const wchar_t* path) = 0;
    // Follows `path` from `start` (or from the document) and gives the text
    // of the node reached; a missing component fails and empties `text`.
    virtual int ReadPath(const wchar_t* path, WideString& text, IUnknown* start);
    // One step from *current (none: the document element): the first
    // attribute, then the first child, whose name equals `name` without
    // regard to case, or that `visitor` accepts. On success the node found
    // replaces *current and `text` receives its text.
    [[nodiscard]] virtual int FindChild(const wchar_t* name, XmlVisitor visitor, void* data, WideString& text,
                          IUnknown** current) = 0;
    // Walks `path`, then offers every attribute and child of the node reached
    // to `visitor`; 1 only when the visitor stopped the walk.
    virtual int EnumeratePath(const wchar_t* path, XmlVisitor visitor, void* data, IUnknown* start);
    [[nodiscard]] virtual int CreateElement(IUnknown* parent, const wchar_t* name, const wchar_t* text,
                              IUnknown** element) = 0;
    virtual int SetText(IUnknown* node, const wchar_t* text) = 0;
    virtual int SetAttribute(IUnknown* element, const wchar_t* name, const wchar_t* value) = 0;
    virtual int AddProcessingInstruction(const wchar_t* target, const wchar_t* data) = 0;
    virtual int RemoveNode(IUnknown* parent, IUnknown* node) = 0;
    virtual ~XmlBackend() {}

    // FindChild without a visitor that leaves the text alone: the text of an
    // element is that of all its descendants, far too dear to compute for
    // every step of a path.
    int StepTo(const wchar_t* name, IUnknown** current);

    // Splits the next path component off `*cursor`; empty components are
    // skipped. Returns 0 when the path has no more components.
    static int NextComponent(const wchar_t** cursor, WideString& component);

protected:
    // No wanted name (null) matches every node; otherwise the names must be
    // equal without regard to case.
    static bool NameMatches(const wchar_t* wanted, const wchar_t* name);
    // A matching node is taken when there is no visitor or the visitor answers 1.
    int Offer(XmlVisitor visitor, void* data, int kind, IUnknown* node, const wchar_t* name,
              const wchar_t* value) const;
    // Makes `node` (AddRef'ed by the caller) the new current node.
    static void MoveTo(IUnknown** current, IUnknown* node);

    // False while StepTo runs: the node found needs no text unless a visitor sees it.
    bool TextWanted(XmlVisitor visitor) const { return textWanted_ || visitor; }

    XmlDocument* owner_;

private:
    bool textWanted_ = true;
};

// Releases a COM pointer and clears it.
template <class T>
void ReleaseCom(T*& pointer)
{
    if (pointer)
        pointer->Release();
    pointer = nullptr;
}

// Owner of one BSTR made from a text.
class ScopedBstr {
public:
    explicit ScopedBstr(const wchar_t* text) : value_(SysAllocString(text ? text : L"")) {}
    ~ScopedBstr() { SysFreeString(value_); }
    ScopedBstr(const ScopedBstr&) = delete;
    ScopedBstr& operator=(const ScopedBstr&) = delete;
    BSTR Get() const { return value_; }
    bool IsValid() const { return value_ != nullptr; }

private:
    BSTR value_;
};

// Moves a BSTR that a COM call returned into `text` and frees it.
int TakeBstr(BSTR value, WideString& text);
// Clears a VARIANT; a failure counts as a failed operation.
int ClearVariant(VARIANT& value);

#pragma once

#include "services/XmlBackend.h"

#include <msxml2.h>

// The older XML object model (CLSID_XMLDocument, IXMLDocument), used where no
// DOM can be created. It has no "#text" step and no node markup.
class XmlLegacyBackend : public XmlBackend {
public:
    explicit XmlLegacyBackend(XmlDocument* owner) : XmlBackend(owner) {}
    ~XmlLegacyBackend() override { Release(); }

    [[nodiscard]] int Open(DWORD flags) override;
    void Release() override;
    [[nodiscard]] int LoadText(const wchar_t* text) override;
    [[nodiscard]] int LoadFile(const wchar_t* path) override;
    int NodeXml(IUnknown* node, WideString& text) override;
    int DocumentXml(WideString& text) override;
    // The document's own text, converted to the ANSI code page.
    int SaveFile(const wchar_t* path) override;
    [[nodiscard]] int FindChild(const wchar_t* name, XmlVisitor visitor, void* data, WideString& text,
                  IUnknown** current) override;
    // Without a parent the whole document is replaced by the prolog and a
    // new empty document element.
    [[nodiscard]] int CreateElement(IUnknown* parent, const wchar_t* name, const wchar_t* text,
                      IUnknown** element) override;
    int SetText(IUnknown* node, const wchar_t* text) override;
    int SetAttribute(IUnknown* element, const wchar_t* name, const wchar_t* value) override;
    // Kept as the prolog text that a new document element is written after.
    int AddProcessingInstruction(const wchar_t* target, const wchar_t* data) override;
    // Without a node the document is emptied.
    int RemoveNode(IUnknown* parent, IUnknown* node) override;

    bool IsOpen() const { return document_ != nullptr; }

private:
    int Consider(int kind, IUnknown* node, const WideString& nodeName, const WideString& value,
                 const wchar_t* name, XmlVisitor visitor, void* data, WideString& text,
                 IUnknown** current);
    [[nodiscard]] int FindAtDocument(const wchar_t* name, XmlVisitor visitor, void* data, WideString& text,
                       IUnknown** current);
    [[nodiscard]] int FindAttribute(IUnknown* node, const wchar_t* name, XmlVisitor visitor, void* data,
                      WideString& text, IUnknown** current);
    [[nodiscard]] int FindChildElement(IUnknown* node, const wchar_t* name, XmlVisitor visitor, void* data,
                         WideString& text, IUnknown** current);
    int SaveToText(WideString& text);

    IXMLDocument* document_ = nullptr;
    WideString prolog_;
};

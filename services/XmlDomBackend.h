#pragma once

#include "services/XmlBackend.h"

#include <msxml2.h>

// The MSXML DOM ("Msxml2.DOMDocument.6.0", then 4.0, then "Msxml.DOMDocument").
class XmlDomBackend : public XmlBackend {
public:
    explicit XmlDomBackend(XmlDocument* owner) : XmlBackend(owner) {}
    ~XmlDomBackend() override { Release(); }

    [[nodiscard]] int Open(DWORD flags) override;
    void Release() override;
    // Tries the text as a UTF-16 stream, then as one byte per character, then
    // both once more without its encoding declaration.
    [[nodiscard]] int LoadText(const wchar_t* text) override;
    [[nodiscard]] int LoadFile(const wchar_t* path) override;
    int NodeXml(IUnknown* node, WideString& text) override;
    int DocumentXml(WideString& text) override;
    int SaveFile(const wchar_t* path) override;
    // Besides attributes and children, the name "#text" (exactly) reads the
    // text of the current node without moving.
    [[nodiscard]] int FindChild(const wchar_t* name, XmlVisitor visitor, void* data, WideString& text,
                  IUnknown** current) override;
    [[nodiscard]] int CreateElement(IUnknown* parent, const wchar_t* name, const wchar_t* text,
                      IUnknown** element) override;
    int SetText(IUnknown* node, const wchar_t* text) override;
    int SetAttribute(IUnknown* element, const wchar_t* name, const wchar_t* value) override;
    int AddProcessingInstruction(const wchar_t* target, const wchar_t* data) override;
    int RemoveNode(IUnknown* parent, IUnknown* node) override;

    bool IsOpen() const { return document_ != nullptr; }

    // The text with its encoding declaration removed (the first encoding="..."
    // or encoding='...' inside the XML declaration); 0 when it has none.
    static int RemoveEncodingDeclaration(const wchar_t* text, WideString& result);

private:
    [[nodiscard]] int LoadVariant(VARIANT& source);
    [[nodiscard]] int LoadAsStream(const wchar_t* text, int length);
    [[nodiscard]] int LoadAsBytes(const wchar_t* text, int length);
    // Takes `node` (owned) as the step's result when its name matches and the
    // visitor, if any, accepts it; otherwise releases it.
    int Consider(int kind, IXMLDOMNode* node, const wchar_t* name, XmlVisitor visitor, void* data,
                 WideString& text, IUnknown** current);
    [[nodiscard]] int FindAtDocument(const wchar_t* name, XmlVisitor visitor, void* data, WideString& text,
                       IUnknown** current);
    [[nodiscard]] int FindAttribute(IXMLDOMNode* node, const wchar_t* name, XmlVisitor visitor, void* data,
                      WideString& text, IUnknown** current);
    [[nodiscard]] int FindChildNode(IXMLDOMNode* node, const wchar_t* name, XmlVisitor visitor, void* data,
                      WideString& text, IUnknown** current);

    IXMLDOMDocument* document_ = nullptr;
};

#include "services/XmlDomBackend.h"

#include <string.h>
#include <wchar.h>

namespace {

const wchar_t* const DomProgIds[] = {
    L"Msxml2.DOMDocument.6.0",
    L"Msxml2.DOMDocument.4.0",
    L"Msxml.DOMDocument",
};

// Missing from the MinGW import libraries.
const IID IidXmlDomDocument2 = {0x2933BF95, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};

IXMLDOMNode* AsNode(IUnknown* unknown)
{
    IXMLDOMNode* node = nullptr;
    if (!unknown || FAILED(unknown->QueryInterface(IID_IXMLDOMNode, (void**)&node)))
        return nullptr;
    return node;
}

int NodeName(IXMLDOMNode* node, WideString& name)
{
    BSTR value = nullptr;
    name.Clear();
    if (FAILED(node->get_nodeName(&value)))
        return 0;
    return TakeBstr(value, name);
}

int NodeText(IXMLDOMNode* node, WideString& text)
{
    BSTR value = nullptr;
    text.Clear();
    if (FAILED(node->get_text(&value)))
        return 0;
    return TakeBstr(value, text);
}

// Index of `what` in `text` at or after `from`, ASCII letters folded; -1 if none.
int FindNoCase(const WideString& text, const wchar_t* what, int from, int end)
{
    int n = (int)wcslen(what);
    for (int i = from; i + n <= end; ++i)
        if (CompareAsciiNoCase(text.Text() + i, what, n) == 0)
            return i;
    return -1;
}

IXMLDOMDocument* CreateDocument(DWORD flags)
{
    for (const wchar_t* progId : DomProgIds) {
        CLSID clsid;
        if (FAILED(CLSIDFromProgID(progId, &clsid)))
            continue;
        IXMLDOMDocument* document = nullptr;
        if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IXMLDOMDocument, (void**)&document)) ||
            !document)
            continue;
        // A parser that cannot be told to stay synchronous and to leave
        // external references alone is not used at all.
        bool configured = SUCCEEDED(document->put_async(VARIANT_FALSE));
        if (configured && (flags & XmlNoExternals))
            configured = SUCCEEDED(document->put_resolveExternals(VARIANT_FALSE));
        if (configured && (flags & XmlNoValidation))
            configured = SUCCEEDED(document->put_validateOnParse(VARIANT_FALSE));
        if (!configured) {
            document->Release();
            continue;
        }
        if (flags & XmlAllowDtd) {
            // Only widens what is accepted; older parsers without the
            // property accept DTDs anyway.
            IXMLDOMDocument2* document2 = nullptr;
            if (SUCCEEDED(document->QueryInterface(IidXmlDomDocument2, (void**)&document2))) {
                ScopedBstr property(L"ProhibitDTD");
                VARIANT value;
                VariantInit(&value);
                V_VT(&value) = VT_BOOL;
                V_BOOL(&value) = VARIANT_FALSE;
                document2->setProperty(property.Get(), value);
                document2->Release();
            }
        }
        return document;
    }
    return nullptr;
}

} // namespace

int XmlDomBackend::Open(DWORD flags)
{
    Release();
    document_ = CreateDocument(flags);
    return document_ ? 1 : 0;
}

void XmlDomBackend::Release()
{
    ReleaseCom(document_);
}

int XmlDomBackend::LoadVariant(VARIANT& source)
{
    VARIANT_BOOL success = VARIANT_FALSE;
    HRESULT result = document_->load(source, &success);
    int cleared = ClearVariant(source);
    return result == S_OK && success == VARIANT_TRUE && cleared;
}

int XmlDomBackend::LoadAsStream(const wchar_t* text, int length)
{
    // A byte-order mark in front, so that the parser reads UTF-16 even when
    // the text does not begin with an XML declaration.
    bool marked = length > 0 && text[0] == 0xFEFF;
    SIZE_T bytes = (SIZE_T)(length + (marked ? 0 : 1)) * sizeof(wchar_t);
    HGLOBAL block = GlobalAlloc(GMEM_FIXED, bytes);
    if (!block)
        return 0;
    wchar_t* target = (wchar_t*)block;
    if (!marked)
        *target++ = 0xFEFF;
    memcpy(target, text, (size_t)length * sizeof(wchar_t));
    IStream* stream = nullptr;
    if (FAILED(CreateStreamOnHGlobal(block, TRUE, &stream)) || !stream) {
        GlobalFree(block);
        return 0;
    }
    VARIANT source;
    VariantInit(&source);
    V_VT(&source) = VT_UNKNOWN;
    V_UNKNOWN(&source) = stream; // released, with the block, by the VARIANT
    return LoadVariant(source);
}

int XmlDomBackend::LoadAsBytes(const wchar_t* text, int length)
{
    SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, (ULONG)length);
    if (!array)
        return 0;
    BYTE* bytes = nullptr;
    if (FAILED(SafeArrayAccessData(array, (void**)&bytes))) {
        SafeArrayDestroy(array);
        return 0;
    }
    for (int i = 0; i < length; ++i)
        bytes[i] = (BYTE)(text[i] & 0xFF);
    SafeArrayUnaccessData(array);
    VARIANT source;
    VariantInit(&source);
    V_VT(&source) = VT_ARRAY | VT_UI1;
    V_ARRAY(&source) = array;
    return LoadVariant(source);
}

int XmlDomBackend::RemoveEncodingDeclaration(const wchar_t* text, WideString& result)
{
    result.Clear();
    if (!text || !*text || !result.Assign(text))
        return 0;
    // Only the XML declaration at the very start is looked at: an
    // "encoding=" anywhere else is document content.
    int begin = result.At(0) == 0xFEFF ? 1 : 0;
    if (CompareAsciiNoCase(result.Text() + begin, L"<?xml", 5) != 0)
        return 0;
    int end = result.Find(L"?>", begin);
    if (end < 0)
        return 0;
    wchar_t quote = L'"';
    int start = FindNoCase(result, L"encoding=\"", begin, end);
    if (start < 0) {
        quote = L'\'';
        start = FindNoCase(result, L"encoding='", begin, end);
    }
    if (start < 0)
        return 0;
    int close = -1;
    for (int i = start + 10; i < end && close < 0; ++i)
        if (result.At(i) == quote)
            close = i;
    if (close < 0)
        return 0;
    WideString stripped;
    if (!stripped.Assign(result.Text(), start) || !stripped.Append(result.Text() + close + 1))
        return 0;
    result = stripped;
    return 1;
}

int XmlDomBackend::LoadText(const wchar_t* text)
{
    if (!document_ || !text || !*text)
        return 0;
    int length = (int)wcslen(text);
    if (LoadAsStream(text, length) || LoadAsBytes(text, length))
        return 1;
    // A declared encoding that the parser does not know or that contradicts
    // the text: once more without the declaration.
    WideString stripped;
    if (!RemoveEncodingDeclaration(text, stripped))
        return 0;
    return LoadAsStream(stripped.Text(), stripped.Length()) ||
           LoadAsBytes(stripped.Text(), stripped.Length());
}

int XmlDomBackend::LoadFile(const wchar_t* path)
{
    if (!document_ || !path || !*path)
        return 0;
    VARIANT source;
    VariantInit(&source);
    V_VT(&source) = VT_BSTR;
    V_BSTR(&source) = SysAllocString(path);
    if (!V_BSTR(&source))
        return 0;
    return LoadVariant(source);
}

int XmlDomBackend::NodeXml(IUnknown* node, WideString& text)
{
    text.Clear();
    IXMLDOMNode* domNode = document_ ? AsNode(node) : nullptr;
    if (!domNode)
        return 0;
    BSTR xml = nullptr;
    HRESULT result = domNode->get_xml(&xml);
    domNode->Release();
    return SUCCEEDED(result) && TakeBstr(xml, text);
}

int XmlDomBackend::DocumentXml(WideString& text)
{
    text.Clear();
    if (!document_)
        return 0;
    BSTR xml = nullptr;
    return SUCCEEDED(document_->get_xml(&xml)) && TakeBstr(xml, text);
}

int XmlDomBackend::SaveFile(const wchar_t* path)
{
    if (!document_ || !path || !*path)
        return 0;
    VARIANT target;
    VariantInit(&target);
    V_VT(&target) = VT_BSTR;
    V_BSTR(&target) = SysAllocString(path);
    if (!V_BSTR(&target))
        return 0;
    HRESULT result = document_->save(target);
    int cleared = ClearVariant(target);
    return result == S_OK && cleared;
}

int XmlDomBackend::Consider(int kind, IXMLDOMNode* node, const wchar_t* name, XmlVisitor visitor,
                            void* data, WideString& text, IUnknown** current)
{
    WideString nodeName;
    WideString value;
    int taken = NodeName(node, nodeName) && NameMatches(name, nodeName.Text()) &&
                (!TextWanted(visitor) || NodeText(node, value)) &&
                Offer(visitor, data, kind, node, nodeName.Text(), value.Text());
    if (!taken) {
        node->Release();
        return 0;
    }
    text = value;
    MoveTo(current, node);
    return 1;
}

int XmlDomBackend::FindAtDocument(const wchar_t* name, XmlVisitor visitor, void* data,
                                  WideString& text, IUnknown** current)
{
    IXMLDOMElement* root = nullptr;
    if (document_->get_documentElement(&root) != S_OK || !root) {
        ReleaseCom(root);
        return 0;
    }
    IXMLDOMNode* rootNode = AsNode(root);
    root->Release();
    if (!rootNode)
        return 0;
    WideString rootName;
    WideString value;
    int found = NodeName(rootNode, rootName) && NameMatches(name, rootName.Text()) &&
                (!TextWanted(visitor) || NodeText(rootNode, value)) &&
                Offer(visitor, data, XmlChildNode, rootNode, rootName.Text(), value.Text());
    if (found)
        text = value;
    // The walk goes on from the document element whether or not it matched.
    MoveTo(current, rootNode);
    return found;
}

int XmlDomBackend::FindAttribute(IXMLDOMNode* node, const wchar_t* name, XmlVisitor visitor,
                                 void* data, WideString& text, IUnknown** current)
{
    IXMLDOMNamedNodeMap* attributes = nullptr;
    if (node->get_attributes(&attributes) != S_OK || !attributes) {
        ReleaseCom(attributes);
        return 0;
    }
    long count = 0;
    if (FAILED(attributes->get_length(&count)))
        count = 0;
    int found = 0;
    for (long i = 0; i < count && !found; ++i) {
        IXMLDOMNode* attribute = nullptr;
        if (attributes->get_item(i, &attribute) != S_OK || !attribute) {
            ReleaseCom(attribute);
            continue;
        }
        found = Consider(XmlAttributeNode, attribute, name, visitor, data, text, current);
    }
    attributes->Release();
    return found;
}

int XmlDomBackend::FindChildNode(IXMLDOMNode* node, const wchar_t* name, XmlVisitor visitor,
                                 void* data, WideString& text, IUnknown** current)
{
    // Sibling by sibling: a node list's item(i) may walk from the first
    // child every time, which makes large documents quadratic.
    IXMLDOMNode* child = nullptr;
    if (node->get_firstChild(&child) != S_OK)
        ReleaseCom(child);
    while (child) {
        IXMLDOMNode* next = nullptr;
        if (child->get_nextSibling(&next) != S_OK)
            ReleaseCom(next);
        if (Consider(XmlChildNode, child, name, visitor, data, text, current)) {
            ReleaseCom(next);
            return 1;
        }
        child = next;
    }
    return 0;
}

int XmlDomBackend::FindChild(const wchar_t* name, XmlVisitor visitor, void* data, WideString& text,
                             IUnknown** current)
{
    text.Clear();
    if (!document_ || !current)
        return 0;
    if (!*current)
        return FindAtDocument(name, visitor, data, text, current);
    IXMLDOMNode* node = AsNode(*current);
    if (!node)
        return 0;
    int found;
    if (name && wcscmp(name, L"#text") == 0)
        found = NodeText(node, text);
    else
        found = FindAttribute(node, name, visitor, data, text, current) ||
                FindChildNode(node, name, visitor, data, text, current);
    node->Release();
    if (!found)
        text.Clear();
    return found;
}

int XmlDomBackend::CreateElement(IUnknown* parent, const wchar_t* name, const wchar_t* text,
                                 IUnknown** element)
{
    if (element)
        *element = nullptr;
    if (!document_ || !name || !*name)
        return 0;
    IXMLDOMNode* container = parent ? AsNode(parent) : AsNode(document_);
    if (!container)
        return 0;
    ScopedBstr tag(name);
    IXMLDOMElement* created = nullptr;
    IXMLDOMNode* appended = nullptr;
    int ok = tag.IsValid() && SUCCEEDED(document_->createElement(tag.Get(), &created)) && created;
    if (ok && text) {
        ScopedBstr content(text);
        ok = content.IsValid() && SUCCEEDED(created->put_text(content.Get()));
    }
    ok = ok && SUCCEEDED(container->appendChild(created, &appended)) && appended;
    ReleaseCom(created);
    container->Release();
    if (!ok) {
        ReleaseCom(appended);
        return 0;
    }
    if (element)
        *element = appended;
    else
        appended->Release();
    return 1;
}

int XmlDomBackend::SetText(IUnknown* node, const wchar_t* text)
{
    IXMLDOMNode* domNode = document_ ? AsNode(node) : nullptr;
    if (!domNode)
        return 0;
    ScopedBstr content(text);
    int ok = content.IsValid() && SUCCEEDED(domNode->put_text(content.Get()));
    domNode->Release();
    return ok;
}

int XmlDomBackend::SetAttribute(IUnknown* element, const wchar_t* name, const wchar_t* value)
{
    IXMLDOMNode* node = document_ && name && *name ? AsNode(element) : nullptr;
    if (!node)
        return 0;
    ScopedBstr attributeName(name);
    ScopedBstr content(value);
    IXMLDOMAttribute* attribute = nullptr;
    IXMLDOMNamedNodeMap* attributes = nullptr;
    IXMLDOMNode* replaced = nullptr;
    int ok = attributeName.IsValid() && content.IsValid() &&
             SUCCEEDED(document_->createAttribute(attributeName.Get(), &attribute)) && attribute &&
             SUCCEEDED(attribute->put_text(content.Get())) &&
             node->get_attributes(&attributes) == S_OK && attributes &&
             SUCCEEDED(attributes->setNamedItem(attribute, &replaced));
    ReleaseCom(replaced);
    ReleaseCom(attributes);
    ReleaseCom(attribute);
    node->Release();
    return ok;
}

int XmlDomBackend::AddProcessingInstruction(const wchar_t* target, const wchar_t* data)
{
    if (!document_ || !target || !*target)
        return 0;
    ScopedBstr name(target);
    ScopedBstr content(data);
    IXMLDOMProcessingInstruction* instruction = nullptr;
    IXMLDOMNode* appended = nullptr;
    int ok = name.IsValid() && content.IsValid() &&
             SUCCEEDED(document_->createProcessingInstruction(name.Get(), content.Get(), &instruction)) &&
             instruction && SUCCEEDED(document_->appendChild(instruction, &appended));
    ReleaseCom(appended);
    ReleaseCom(instruction);
    return ok;
}

int XmlDomBackend::RemoveNode(IUnknown* parent, IUnknown* node)
{
    if (!document_ || !node)
        return 0;
    IXMLDOMNode* container = parent ? AsNode(parent) : AsNode(document_);
    IXMLDOMNode* child = AsNode(node);
    IXMLDOMNode* removed = nullptr;
    int ok = container && child && SUCCEEDED(container->removeChild(child, &removed)) && removed;
    ReleaseCom(removed);
    ReleaseCom(child);
    ReleaseCom(container);
    return ok;
}

#include "services/XmlLegacyBackend.h"

#include <new>
#include <stdlib.h>
#include <string.h>

namespace {

// The old object model's identifiers are missing from the MinGW import
// libraries, so they are spelled out here.
const CLSID ClsidXmlDocument = {0xCFC399AF, 0xD876, 0x11D0, {0x9C, 0x10, 0x00, 0xC0, 0x4F, 0xC9, 0x9C, 0x8E}};
const IID IidXmlDocument = {0xF52E2B61, 0x18A1, 0x11D1, {0xB1, 0x05, 0x00, 0x80, 0x5F, 0x49, 0x91, 0x6B}};
const IID IidXmlElement = {0x3F7F31AC, 0xE15F, 0x11D0, {0x9C, 0x25, 0x00, 0xC0, 0x4F, 0xC9, 0x9C, 0x8E}};
const IID IidXmlElement2 = {0x2B8DE2FF, 0x8D2D, 0x11D1, {0xB2, 0xFC, 0x00, 0xC0, 0x4F, 0xD9, 0x15, 0xA9}};
const IID IidXmlAttribute = {0xD4D4A0FC, 0x3B73, 0x11D1, {0xB2, 0xB4, 0x00, 0xC0, 0x4F, 0xB9, 0x25, 0x96}};

// A read-only stream over a private copy of the document text: UTF-16 with
// a byte-order mark, so the parser never has to guess. A read never hands
// out more than was asked for.
class TextReadStream : public IStream {
public:
    static IStream* Create(const wchar_t* text, int length)
    {
        TextReadStream* stream = new (std::nothrow) TextReadStream();
        if (!stream)
            return nullptr;
        stream->size_ = (ULONG)(length + 1) * sizeof(wchar_t);
        stream->bytes_ = (BYTE*)malloc(stream->size_);
        if (!stream->bytes_) {
            stream->Release();
            return nullptr;
        }
        stream->bytes_[0] = 0xFF;
        stream->bytes_[1] = 0xFE;
        memcpy(stream->bytes_ + 2, text, (size_t)length * sizeof(wchar_t));
        return stream;
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (!object)
            return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_ISequentialStream) ||
            IsEqualIID(iid, IID_IStream)) {
            *object = static_cast<IStream*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return (ULONG)InterlockedIncrement(&references_); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        LONG left = InterlockedDecrement(&references_);
        if (!left)
            delete this;
        return (ULONG)left;
    }

    HRESULT STDMETHODCALLTYPE Read(void* buffer, ULONG wanted, ULONG* read) override
    {
        if (!buffer)
            return STG_E_INVALIDPOINTER;
        ULONG left = size_ - position_;
        ULONG count = wanted < left ? wanted : left;
        memcpy(buffer, bytes_ + position_, count);
        position_ += count;
        if (read)
            *read = count;
        return count == wanted ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Write(const void*, ULONG, ULONG* written) override
    {
        if (written)
            *written = 0;
        return STG_E_ACCESSDENIED;
    }
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) override
    {
        LONGLONG base = origin == STREAM_SEEK_SET ? 0 : origin == STREAM_SEEK_CUR ? position_ : size_;
        if (origin > STREAM_SEEK_END)
            return STG_E_INVALIDFUNCTION;
        LONGLONG target = base + move.QuadPart;
        if (target < 0)
            return STG_E_INVALIDFUNCTION;
        position_ = target > size_ ? size_ : (ULONG)target;
        if (position)
            position->QuadPart = position_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER) override { return STG_E_ACCESSDENIED; }
    HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Revert() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override
    {
        return STG_E_INVALIDFUNCTION;
    }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override
    {
        return STG_E_INVALIDFUNCTION;
    }
    HRESULT STDMETHODCALLTYPE Stat(STATSTG* stat, DWORD) override
    {
        if (!stat)
            return STG_E_INVALIDPOINTER;
        memset(stat, 0, sizeof(*stat));
        stat->type = STGTY_STREAM;
        stat->cbSize.QuadPart = size_;
        stat->grfMode = STGM_READ;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IStream** clone) override
    {
        if (clone)
            *clone = nullptr;
        return E_NOTIMPL;
    }

private:
    TextReadStream() = default;
    virtual ~TextReadStream() { free(bytes_); }

    LONG references_ = 1;
    BYTE* bytes_ = nullptr;
    ULONG size_ = 0;
    ULONG position_ = 0;
};

IXMLElement* AsElement(IUnknown* unknown)
{
    IXMLElement* element = nullptr;
    if (!unknown || FAILED(unknown->QueryInterface(IidXmlElement, (void**)&element)))
        return nullptr;
    return element;
}

int ElementName(IXMLElement* element, WideString& name)
{
    BSTR value = nullptr;
    name.Clear();
    return SUCCEEDED(element->get_tagName(&value)) && TakeBstr(value, name);
}

// A missing text reads as empty.
void ElementText(IXMLElement* element, WideString& text)
{
    BSTR value = nullptr;
    text.Clear();
    if (SUCCEEDED(element->get_text(&value)))
        TakeBstr(value, text);
}

// The item at `index` of a collection, as the interface asked for.
IUnknown* CollectionItem(IXMLElementCollection* collection, long index, REFIID iid)
{
    VARIANT position, unused;
    VariantInit(&position);
    VariantInit(&unused);
    V_VT(&position) = VT_I4;
    V_I4(&position) = index;
    IDispatch* item = nullptr;
    if (collection->item(position, unused, &item) != S_OK || !item) {
        ReleaseCom(item);
        return nullptr;
    }
    IUnknown* wanted = nullptr;
    if (FAILED(item->QueryInterface(iid, (void**)&wanted)))
        wanted = nullptr;
    item->Release();
    return wanted;
}

long CollectionLength(IXMLElementCollection* collection)
{
    LONG count = 0;
    return SUCCEEDED(collection->get_length(&count)) ? count : 0;
}

// Walks a collection in order and hands each item, as the interface asked
// for, to `take` until it answers 1. The collection's enumerator is used
// where there is one: item(i) may count from the start on every call.
template <class Take>
int WalkCollection(IXMLElementCollection* collection, REFIID iid, Take take)
{
    IUnknown* enumeratorUnknown = nullptr;
    IEnumVARIANT* enumerator = nullptr;
    if (SUCCEEDED(collection->get__newEnum(&enumeratorUnknown)) && enumeratorUnknown)
        enumeratorUnknown->QueryInterface(IID_IEnumVARIANT, (void**)&enumerator);
    ReleaseCom(enumeratorUnknown);
    if (!enumerator) {
        long count = CollectionLength(collection);
        for (long i = 0; i < count; ++i)
            if (IUnknown* item = CollectionItem(collection, i, iid))
                if (take(item))
                    return 1;
        return 0;
    }
    int taken = 0;
    VARIANT item;
    VariantInit(&item);
    ULONG fetched = 0;
    while (!taken && enumerator->Next(1, &item, &fetched) == S_OK && fetched == 1) {
        IUnknown* wanted = nullptr;
        if ((V_VT(&item) == VT_DISPATCH || V_VT(&item) == VT_UNKNOWN) && V_UNKNOWN(&item) &&
            FAILED(V_UNKNOWN(&item)->QueryInterface(iid, (void**)&wanted)))
            wanted = nullptr;
        VariantClear(&item);
        if (wanted)
            taken = take(wanted);
    }
    enumerator->Release();
    return taken;
}

// The document's bytes as a stream produces them: UTF-16 when it says so
// with a byte-order mark, else UTF-8, else the ANSI code page.
int DecodeSaved(const BYTE* bytes, SIZE_T size, WideString& text)
{
    text.Clear();
    if (size >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE)
        return text.Assign((const wchar_t*)(bytes + 2), (int)((size - 2) / 2));
    int skip = size >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF ? 3 : 0;
    const char* start = (const char*)bytes + skip;
    int count = (int)(size - skip);
    if (count == 0)
        return 1;
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, start, count, nullptr, 0) > 0)
        return text.FromMultiByte(start, count, CP_UTF8);
    return text.FromMultiByte(start, count, CP_ACP);
}

int WriteWholeFile(const wchar_t* path, const char* bytes, int size)
{
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    DWORD written = 0;
    int ok = size == 0 || (WriteFile(file, bytes, (DWORD)size, &written, nullptr) && written == (DWORD)size);
    ok = CloseHandle(file) && ok;
    return ok;
}

} // namespace

int XmlLegacyBackend::Open(DWORD flags)
{
    Release();
    IXMLDocument* document = nullptr;
    if (FAILED(CoCreateInstance(ClsidXmlDocument, nullptr, CLSCTX_ALL, IidXmlDocument, (void**)&document)) ||
        !document)
        return 0;
    document_ = document;
    return 1;
}

void XmlLegacyBackend::Release()
{
    ReleaseCom(document_);
    prolog_.Clear();
}

int XmlLegacyBackend::LoadText(const wchar_t* text)
{
    if (!document_ || !text || !*text)
        return 0;
    IPersistStream* persist = nullptr;
    if (FAILED(document_->QueryInterface(IID_IPersistStream, (void**)&persist)) || !persist)
        return 0;
    IStream* stream = TextReadStream::Create(text, (int)wcslen(text));
    int ok = stream && SUCCEEDED(persist->Load(stream));
    ReleaseCom(stream);
    persist->Release();
    return ok;
}

int XmlLegacyBackend::LoadFile(const wchar_t* path)
{
    if (!document_ || !path || !*path)
        return 0;
    ScopedBstr url(path);
    return url.IsValid() && SUCCEEDED(document_->put_URL(url.Get()));
}

int XmlLegacyBackend::NodeXml(IUnknown* node, WideString& text)
{
    text.Clear();
    return 0;
}

int XmlLegacyBackend::SaveToText(WideString& text)
{
    text.Clear();
    IPersistStream* persist = nullptr;
    if (!document_ || FAILED(document_->QueryInterface(IID_IPersistStream, (void**)&persist)) || !persist)
        return 0;
    IStream* stream = nullptr;
    HGLOBAL block = nullptr;
    int ok = SUCCEEDED(CreateStreamOnHGlobal(nullptr, TRUE, &stream)) && stream &&
             SUCCEEDED(persist->Save(stream, FALSE)) && SUCCEEDED(GetHGlobalFromStream(stream, &block));
    if (ok) {
        // The block may be larger than what was written: the stream knows.
        STATSTG stat = {};
        ok = SUCCEEDED(stream->Stat(&stat, STATFLAG_NONAME));
        const BYTE* bytes = ok ? (const BYTE*)GlobalLock(block) : nullptr;
        ok = bytes && DecodeSaved(bytes, (SIZE_T)stat.cbSize.QuadPart, text);
        if (bytes)
            GlobalUnlock(block);
    }
    ReleaseCom(stream);
    persist->Release();
    if (!ok)
        text.Clear();
    return ok;
}

int XmlLegacyBackend::DocumentXml(WideString& text)
{
    return SaveToText(text);
}

int XmlLegacyBackend::SaveFile(const wchar_t* path)
{
    WideString text;
    if (!path || !*path || !SaveToText(text))
        return 0;
    int size = 0;
    char* bytes = text.ToMultiByte(CP_ACP, &size);
    if (!bytes)
        return 0;
    int ok = WriteWholeFile(path, bytes, size);
    free(bytes);
    return ok;
}

int XmlLegacyBackend::Consider(int kind, IUnknown* node, const WideString& nodeName,
                               const WideString& value, const wchar_t* name, XmlVisitor visitor,
                               void* data, WideString& text, IUnknown** current)
{
    if (!NameMatches(name, nodeName.Text()) ||
        !Offer(visitor, data, kind, node, nodeName.Text(), value.Text())) {
        node->Release();
        return 0;
    }
    text = value;
    MoveTo(current, node);
    return 1;
}

int XmlLegacyBackend::FindAtDocument(const wchar_t* name, XmlVisitor visitor, void* data,
                                     WideString& text, IUnknown** current)
{
    IXMLElement* root = nullptr;
    if (document_->get_root(&root) != S_OK || !root) {
        ReleaseCom(root);
        return 0;
    }
    WideString rootName;
    WideString value;
    int found = 0;
    if (ElementName(root, rootName) && NameMatches(name, rootName.Text())) {
        if (TextWanted(visitor))
            ElementText(root, value);
        found = Offer(visitor, data, XmlChildNode, root, rootName.Text(), value.Text());
    }
    if (found)
        text = value;
    MoveTo(current, root);
    return found;
}

int XmlLegacyBackend::FindAttribute(IUnknown* node, const wchar_t* name, XmlVisitor visitor,
                                    void* data, WideString& text, IUnknown** current)
{
    IXMLElement2* element = nullptr;
    if (FAILED(node->QueryInterface(IidXmlElement2, (void**)&element)) || !element)
        return 0;
    IXMLElementCollection* attributes = nullptr;
    HRESULT result = element->get_attributes(&attributes);
    element->Release();
    if (result != S_OK || !attributes) {
        ReleaseCom(attributes);
        return 0;
    }
    int found = WalkCollection(attributes, IidXmlAttribute, [&](IUnknown* item) {
        IXMLAttribute* attribute = (IXMLAttribute*)item;
        WideString attributeName;
        WideString value;
        BSTR raw = nullptr;
        if (SUCCEEDED(attribute->get_name(&raw)))
            TakeBstr(raw, attributeName);
        raw = nullptr;
        if (SUCCEEDED(attribute->get_value(&raw)))
            TakeBstr(raw, value);
        return Consider(XmlAttributeNode, attribute, attributeName, value, name, visitor, data, text,
                        current);
    });
    attributes->Release();
    return found;
}

int XmlLegacyBackend::FindChildElement(IUnknown* node, const wchar_t* name, XmlVisitor visitor,
                                       void* data, WideString& text, IUnknown** current)
{
    IXMLElement* element = AsElement(node);
    if (!element)
        return 0;
    IXMLElementCollection* children = nullptr;
    HRESULT result = element->get_children(&children);
    element->Release();
    if (result != S_OK || !children) {
        ReleaseCom(children);
        return 0;
    }
    int found = WalkCollection(children, IidXmlElement, [&](IUnknown* item) {
        IXMLElement* child = (IXMLElement*)item;
        WideString childName;
        WideString value;
        ElementName(child, childName);
        if (NameMatches(name, childName.Text()) && TextWanted(visitor))
            ElementText(child, value);
        return Consider(XmlChildNode, child, childName, value, name, visitor, data, text, current);
    });
    children->Release();
    return found;
}

int XmlLegacyBackend::FindChild(const wchar_t* name, XmlVisitor visitor, void* data, WideString& text,
                                IUnknown** current)
{
    text.Clear();
    if (!document_ || !current)
        return 0;
    if (!*current)
        return FindAtDocument(name, visitor, data, text, current);
    int found = FindAttribute(*current, name, visitor, data, text, current) ||
                FindChildElement(*current, name, visitor, data, text, current);
    if (!found)
        text.Clear();
    return found;
}

int XmlLegacyBackend::CreateElement(IUnknown* parent, const wchar_t* name, const wchar_t* text,
                                    IUnknown** element)
{
    if (element)
        *element = nullptr;
    if (!document_ || !name || !*name)
        return 0;
    IXMLElement* created = nullptr;
    if (!parent) {
        WideString markup;
        if (!markup.Format(L"%s<%s></%s>", prolog_.Text(), name, name) || !LoadText(markup.Text()) ||
            document_->get_root(&created) != S_OK || !created) {
            ReleaseCom(created);
            return 0;
        }
    } else {
        IXMLElement* container = AsElement(parent);
        if (!container)
            return 0;
        VARIANT type, tag;
        VariantInit(&type);
        VariantInit(&tag);
        V_VT(&type) = VT_I4;
        V_I4(&type) = XMLELEMTYPE_ELEMENT;
        V_VT(&tag) = VT_BSTR;
        V_BSTR(&tag) = SysAllocString(name);
        int ok = V_BSTR(&tag) && SUCCEEDED(document_->createElement(type, tag, &created)) && created;
        ok = ClearVariant(tag) && ok;
        // Some implementations ignore the name given to createElement.
        WideString createdName;
        if (ok && ElementName(created, createdName) && createdName.CompareNoCase(name) != 0) {
            ScopedBstr rename(name);
            ok = rename.IsValid() && SUCCEEDED(created->put_tagName(rename.Get()));
        }
        ok = ok && container->addChild(created, -1, -1) == S_OK;
        container->Release();
        if (!ok) {
            ReleaseCom(created);
            return 0;
        }
    }
    if (text && !SetText(created, text)) {
        created->Release();
        return 0;
    }
    if (element)
        *element = created;
    else
        created->Release();
    return 1;
}

int XmlLegacyBackend::SetText(IUnknown* node, const wchar_t* text)
{
    IXMLElement* element = document_ ? AsElement(node) : nullptr;
    if (!element)
        return 0;
    int ok = 1;
    IXMLElementCollection* children = nullptr;
    if (element->get_children(&children) == S_OK && children) {
        // From the end, so that the live collection keeps its earlier indices.
        for (long i = CollectionLength(children) - 1; i >= 0 && ok; --i) {
            IXMLElement* child = (IXMLElement*)CollectionItem(children, i, IidXmlElement);
            ok = child && SUCCEEDED(element->removeChild(child));
            ReleaseCom(child);
        }
    }
    ReleaseCom(children);
    VARIANT type, unused;
    VariantInit(&type);
    VariantInit(&unused);
    V_VT(&type) = VT_I4;
    V_I4(&type) = XMLELEMTYPE_TEXT;
    IXMLElement* textNode = nullptr;
    ScopedBstr content(text);
    ok = ok && content.IsValid() && SUCCEEDED(document_->createElement(type, unused, &textNode)) &&
         textNode && SUCCEEDED(textNode->put_text(content.Get())) &&
         element->addChild(textNode, -1, -1) == S_OK;
    ReleaseCom(textNode);
    element->Release();
    return ok;
}

int XmlLegacyBackend::SetAttribute(IUnknown* element, const wchar_t* name, const wchar_t* value)
{
    IXMLElement* target = document_ && name && *name ? AsElement(element) : nullptr;
    if (!target)
        return 0;
    ScopedBstr attributeName(name);
    VARIANT content;
    VariantInit(&content);
    V_VT(&content) = VT_BSTR;
    V_BSTR(&content) = SysAllocString(value ? value : L"");
    int ok = attributeName.IsValid() && V_BSTR(&content) &&
             SUCCEEDED(target->setAttribute(attributeName.Get(), content));
    ok = ClearVariant(content) && ok;
    target->Release();
    return ok;
}

int XmlLegacyBackend::AddProcessingInstruction(const wchar_t* target, const wchar_t* data)
{
    if (!document_ || !target || !*target)
        return 0;
    if (data)
        return prolog_.Format(L"<?%s %s?>", target, data);
    return prolog_.Format(L"<?%s?>", target);
}

int XmlLegacyBackend::RemoveNode(IUnknown* parent, IUnknown* node)
{
    if (!document_)
        return 0;
    if (!node) {
        // A fresh object is the only empty document the old model knows.
        WideString prolog = prolog_;
        if (!Open(0))
            return 0;
        prolog_ = prolog;
        return 1;
    }
    IXMLElement* element = AsElement(node);
    if (!element)
        return 0;
    IXMLElement* container = nullptr;
    int ok = SUCCEEDED(element->get_parent(&container)) && container &&
             SUCCEEDED(container->removeChild(element));
    ReleaseCom(container);
    element->Release();
    return ok;
}

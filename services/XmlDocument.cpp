#include "services/XmlDocument.h"
#include "services/ComInit.h"

#include <objbase.h>

XmlDocument::XmlDocument() : dom_(this), legacy_(this) {}

XmlDocument::~XmlDocument()
{
    Close();
}

XmlBackend* XmlDocument::Active() const
{
    switch (active_) {
    case DomBackend:
        return const_cast<XmlDomBackend*>(&dom_);
    case LegacyBackend:
        return const_cast<XmlLegacyBackend*>(&legacy_);
    default:
        return nullptr;
    }
}

XmlDocument::Backend XmlDocument::ActiveBackend() const
{
    return active_;
}

int XmlDocument::Open(DWORD flags)
{
    return OpenBackend(DomBackend, flags) || OpenBackend(LegacyBackend, flags);
}

int XmlDocument::OpenBackend(Backend backend, DWORD flags)
{
    if (XmlBackend* previous = Active())
        previous->Release();
    active_ = NoBackend;
    // Initialised once per document, so that Close undoes exactly one.
    if (!comInitialized_)
        comInitialized_ = SUCCEEDED(InitializeCom(COINIT_APARTMENTTHREADED)) ? 1 : 0;
    XmlBackend* chosen = backend == DomBackend      ? static_cast<XmlBackend*>(&dom_)
                         : backend == LegacyBackend ? static_cast<XmlBackend*>(&legacy_)
                                                    : nullptr;
    if (!chosen || !chosen->Open(flags))
        return 0;
    active_ = backend;
    return 1;
}

void XmlDocument::Close()
{
    dom_.Release();
    legacy_.Release();
    active_ = NoBackend;
    if (comInitialized_)
        CoUninitialize();
    comInitialized_ = 0;
}

int XmlDocument::LoadText(const wchar_t* text)
{
    XmlBackend* backend = Active();
    return backend ? backend->LoadText(text) : 0;
}

int XmlDocument::LoadFile(const wchar_t* path)
{
    XmlBackend* backend = Active();
    return backend ? backend->LoadFile(path) : 0;
}

int XmlDocument::NodeXml(IUnknown* node, WideString& text)
{
    text.Clear();
    XmlBackend* backend = Active();
    return backend ? backend->NodeXml(node, text) : 0;
}

int XmlDocument::DocumentXml(WideString& text)
{
    text.Clear();
    XmlBackend* backend = Active();
    return backend ? backend->DocumentXml(text) : 0;
}

int XmlDocument::SaveFile(const wchar_t* path)
{
    XmlBackend* backend = Active();
    if (!backend || !path || !*path)
        return 0;
    DWORD attributes = GetFileAttributesW(path);
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)))
        return 0;
    WideString temporary;
    if (!temporary.Format(L"%s.tmp", path))
        return 0;
    if (!backend->SaveFile(temporary.Text()) ||
        !MoveFileExW(temporary.Text(), path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileW(temporary.Text());
        return 0;
    }
    return 1;
}

int XmlDocument::ReadPath(const wchar_t* path, WideString& text, IUnknown* start)
{
    text.Clear();
    XmlBackend* backend = Active();
    return backend ? backend->ReadPath(path, text, start) : 0;
}

int XmlDocument::FindChild(const wchar_t* name, XmlVisitor visitor, void* data, WideString& text,
                           IUnknown** current)
{
    text.Clear();
    XmlBackend* backend = Active();
    return backend ? backend->FindChild(name, visitor, data, text, current) : 0;
}

int XmlDocument::EnumeratePath(const wchar_t* path, XmlVisitor visitor, void* data, IUnknown* start)
{
    XmlBackend* backend = Active();
    return backend ? backend->EnumeratePath(path, visitor, data, start) : 0;
}

int XmlDocument::CreateElement(IUnknown* parent, const wchar_t* name, const wchar_t* text,
                               IUnknown** element)
{
    if (element)
        *element = nullptr;
    XmlBackend* backend = Active();
    return backend ? backend->CreateElement(parent, name, text, element) : 0;
}

int XmlDocument::SetText(IUnknown* node, const wchar_t* text)
{
    XmlBackend* backend = Active();
    return backend ? backend->SetText(node, text) : 0;
}

int XmlDocument::SetAttribute(IUnknown* element, const wchar_t* name, const wchar_t* value)
{
    XmlBackend* backend = Active();
    return backend ? backend->SetAttribute(element, name, value) : 0;
}

int XmlDocument::AddProcessingInstruction(const wchar_t* target, const wchar_t* data)
{
    XmlBackend* backend = Active();
    return backend ? backend->AddProcessingInstruction(target, data) : 0;
}

int XmlDocument::RemoveNode(IUnknown* parent, IUnknown* node)
{
    XmlBackend* backend = Active();
    return backend ? backend->RemoveNode(parent, node) : 0;
}

IUnknown* XmlDocument::FindChildOf(IUnknown* element, const wchar_t* name, WideString& text)
{
    text.Clear();
    XmlBackend* backend = Active();
    if (!backend)
        return nullptr;
    IUnknown* current = element;
    if (current)
        current->AddRef();
    if (!backend->FindChild(name, nullptr, nullptr, text, &current)) {
        ReleaseCom(current);
        return nullptr;
    }
    return current;
}

IUnknown* XmlDocument::FindOrCreatePath(const wchar_t* path, IUnknown* start)
{
    XmlBackend* backend = Active();
    if (!backend)
        return nullptr;
    IUnknown* current = start;
    if (current)
        current->AddRef();
    const wchar_t* cursor = path;
    WideString component;
    int steps = 0;
    while (XmlBackend::NextComponent(&cursor, component)) {
        ++steps;
        bool atDocument = current == nullptr;
        if (backend->StepTo(component.Text(), &current))
            continue;
        // A document has one root: a value put below a root of another
        // name could never be read back by its path.
        if (atDocument && current) {
            ReleaseCom(current);
            return nullptr;
        }
        IUnknown* created = nullptr;
        if (!backend->CreateElement(current, component.Text(), nullptr, &created)) {
            ReleaseCom(current);
            return nullptr;
        }
        ReleaseCom(current);
        current = created;
    }
    if (!steps)
        ReleaseCom(current);
    return current;
}

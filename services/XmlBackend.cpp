#include "services/XmlBackend.h"

int XmlBackend::NextComponent(const wchar_t** cursor, WideString& component)
{
    component.Clear();
    const wchar_t* p = *cursor;
    if (!p)
        return 0;
    while (*p == L'\\')
        ++p;
    const wchar_t* begin = p;
    while (*p && *p != L'\\')
        ++p;
    *cursor = p;
    if (p == begin)
        return 0;
    return component.Assign(begin, (int)(p - begin));
}

bool XmlBackend::NameMatches(const wchar_t* wanted, const wchar_t* name)
{
    return !wanted || CompareAsciiNoCase(wanted, name) == 0;
}

int XmlBackend::Offer(XmlVisitor visitor, void* data, int kind, IUnknown* node, const wchar_t* name,
                      const wchar_t* value) const
{
    if (!visitor)
        return 1;
    return visitor(kind, node, name, value, data, owner_) == 1;
}

void XmlBackend::MoveTo(IUnknown** current, IUnknown* node)
{
    ReleaseCom(*current);
    *current = node;
}

int XmlBackend::StepTo(const wchar_t* name, IUnknown** current)
{
    WideString unused;
    textWanted_ = false;
    int found = FindChild(name, nullptr, nullptr, unused, current);
    textWanted_ = true;
    return found;
}

int XmlBackend::ReadPath(const wchar_t* path, WideString& text, IUnknown* start)
{
    text.Clear();
    IUnknown* current = start;
    if (current)
        current->AddRef();
    const wchar_t* cursor = path;
    WideString component;
    int steps = 0;
    int found = 1;
    while (NextComponent(&cursor, component)) {
        ++steps;
        // Only the last step's text is the answer.
        const wchar_t* rest = cursor;
        while (*rest == L'\\')
            ++rest;
        int ok = *rest ? StepTo(component.Text(), &current)
                       : FindChild(component.Text(), nullptr, nullptr, text, &current);
        if (!ok) {
            found = 0;
            break;
        }
    }
    ReleaseCom(current);
    if (!found || !steps) {
        text.Clear();
        return 0;
    }
    return 1;
}

int XmlBackend::EnumeratePath(const wchar_t* path, XmlVisitor visitor, void* data, IUnknown* start)
{
    IUnknown* current = start;
    if (current)
        current->AddRef();
    WideString text;
    const wchar_t* cursor = path;
    WideString component;
    while (NextComponent(&cursor, component)) {
        if (!StepTo(component.Text(), &current)) {
            ReleaseCom(current);
            return 0;
        }
    }
    // An empty path without a start names the document element itself.
    if (!current)
        StepTo(nullptr, &current);
    int stopped = current && visitor ? FindChild(nullptr, visitor, data, text, &current) : 0;
    ReleaseCom(current);
    return stopped;
}

int TakeBstr(BSTR value, WideString& text)
{
    int ok = value ? text.Assign(value, (int)SysStringLen(value)) : (text.Clear(), 1);
    SysFreeString(value);
    return ok;
}

int ClearVariant(VARIANT& value)
{
    return SUCCEEDED(VariantClear(&value)) ? 1 : 0;
}

#pragma once

#include <windows.h>

// Owner of one GDI object (font, brush, pen, bitmap): deletes it when it
// takes another one or goes away, so no path can forget it.
template <class Handle>
class GdiObject {
public:
    GdiObject() = default;
    explicit GdiObject(Handle handle) : handle_(handle) {}
    ~GdiObject() { Reset(); }
    GdiObject(const GdiObject&) = delete;
    GdiObject& operator=(const GdiObject&) = delete;

    // Deletes what was held and keeps `handle` (which may be null).
    void Reset(Handle handle = nullptr)
    {
        if (handle_ && handle_ != handle)
            DeleteObject(handle_);
        handle_ = handle;
    }
    Handle Get() const { return handle_; }
    operator Handle() const { return handle_; }

private:
    Handle handle_ = nullptr;
};

typedef GdiObject<HFONT> FontObject;
typedef GdiObject<HBRUSH> BrushObject;
typedef GdiObject<HPEN> PenObject;
typedef GdiObject<HBITMAP> BitmapObject;
typedef GdiObject<HRGN> RegionObject;

#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Writes dialog templates byte by byte the way the resource compiler lays
// them out, so tests can state exactly what a rewritten template must be.
class TemplateBuilder {
public:
    TemplateBuilder(bool extended, DWORD style, const wchar_t* face, WORD points)
        : extended_(extended), style_(style), face_(face ? face : L""), points_(points)
    {
    }

    // A control of a predefined class (0x0080 button, 0x0081 edit, 0x0082 static).
    TemplateBuilder& Item(WORD id, WORD classAtom, const wchar_t* title, std::vector<BYTE> extra = {})
    {
        items_.push_back({id, classAtom, L"", title, extra});
        return *this;
    }
    TemplateBuilder& ItemOfClass(WORD id, const wchar_t* className, WORD titleOrdinal)
    {
        items_.push_back({id, 0, className, nullptr, {}, titleOrdinal});
        return *this;
    }
    TemplateBuilder& Menu(WORD ordinal) { menuOrdinal_ = ordinal; return *this; }
    TemplateBuilder& Title(const wchar_t* title) { title_ = title; return *this; }
    TemplateBuilder& Weight(WORD weight, BYTE italic, BYTE charset)
    {
        weight_ = weight, italic_ = italic, charset_ = charset;
        return *this;
    }
    TemplateBuilder& Face(const wchar_t* face, WORD points)
    {
        face_ = face, points_ = points;
        return *this;
    }

    std::vector<BYTE> Bytes() const
    {
        std::vector<BYTE> out;
        if (extended_) {
            Word(out, 1);
            Word(out, 0xFFFF);
            Dword(out, 0); // help id
            Dword(out, 0); // extended style
            Dword(out, style_);
        } else {
            Dword(out, style_);
            Dword(out, 0);
        }
        Word(out, (WORD)items_.size());
        Word(out, 10), Word(out, 20), Word(out, 200), Word(out, 100);
        if (menuOrdinal_)
            Word(out, 0xFFFF), Word(out, menuOrdinal_);
        else
            Word(out, 0);
        Word(out, 0); // class
        Text(out, title_.c_str());
        if (style_ & DS_SETFONT) {
            Word(out, points_);
            if (extended_) {
                Word(out, weight_);
                out.push_back(italic_);
                out.push_back(charset_);
            }
            Text(out, face_.c_str());
        }
        for (const ItemData& item : items_) {
            while (out.size() % 4)
                out.push_back(0);
            DWORD style = WS_CHILD | WS_VISIBLE;
            if (extended_) {
                Dword(out, 0);
                Dword(out, 0);
                Dword(out, style);
            } else {
                Dword(out, style);
                Dword(out, 0);
            }
            Word(out, 5), Word(out, 5), Word(out, 50), Word(out, 14);
            if (extended_)
                Dword(out, item.id);
            else
                Word(out, item.id);
            if (item.classAtom)
                Word(out, 0xFFFF), Word(out, item.classAtom);
            else
                Text(out, item.className.c_str());
            if (item.title)
                Text(out, item.title);
            else
                Word(out, 0xFFFF), Word(out, item.titleOrdinal);
            Word(out, (WORD)item.extra.size());
            out.insert(out.end(), item.extra.begin(), item.extra.end());
        }
        return out;
    }

private:
    struct ItemData {
        WORD id;
        WORD classAtom;
        std::wstring className;
        const wchar_t* title;
        std::vector<BYTE> extra;
        WORD titleOrdinal = 0;
    };

    static void Word(std::vector<BYTE>& out, WORD value)
    {
        out.push_back((BYTE)(value & 0xFF));
        out.push_back((BYTE)(value >> 8));
    }
    static void Dword(std::vector<BYTE>& out, DWORD value)
    {
        Word(out, (WORD)(value & 0xFFFF));
        Word(out, (WORD)(value >> 16));
    }
    static void Text(std::vector<BYTE>& out, const wchar_t* text)
    {
        for (; *text; ++text)
            Word(out, (WORD)*text);
        Word(out, 0);
    }

    bool extended_;
    DWORD style_;
    std::wstring face_;
    WORD points_;
    WORD weight_ = 400;
    BYTE italic_ = 0;
    BYTE charset_ = 1;
    WORD menuOrdinal_ = 0;
    std::wstring title_ = L"Test";
    std::vector<ItemData> items_;
};

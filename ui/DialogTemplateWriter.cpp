#include "ui/DialogTemplateWriter.h"

namespace {

class TemplateOutput {
public:
    explicit TemplateOutput(ByteBuffer& out) : out_(out) {}

    void Word(WORD value) { Bytes(&value, sizeof value); }
    void Dword(DWORD value) { Bytes(&value, sizeof value); }
    void Short(short value) { Bytes(&value, sizeof value); }
    // A zero-terminated UTF-16 field; an empty one is the single 0 word.
    void Text(const wchar_t* text)
    {
        for (; text && *text; ++text)
            Word((WORD)*text);
        Word(0);
    }
    void AlignToDword()
    {
        static const BYTE zeros[3] = {};
        size_t pad = (4 - out_.Size() % 4) % 4;
        Bytes(zeros, pad);
    }
    bool Ok() const { return ok_; }

private:
    void Bytes(const void* data, size_t size)
    {
        if (ok_ && size && !out_.Append(data, size))
            ok_ = false;
    }

    ByteBuffer& out_;
    bool ok_ = true;
};

void WriteItem(TemplateOutput& out, const DialogItemSpec& item)
{
    out.AlignToDword();
    out.Dword(item.style | WS_CHILD | WS_VISIBLE);
    out.Dword(0); // extended style
    out.Short(item.x), out.Short(item.y), out.Short(item.width), out.Short(item.height);
    out.Word((WORD)item.id); // -1 is 0xFFFF, IDC_STATIC
    out.Word(0xFFFF);
    out.Word(item.classAtom);
    out.Text(item.text);
    out.Word(0); // no creation data
}

} // namespace

int BuildDialogTemplate(const DialogSpec& spec, ByteBuffer& out)
{
    out.Clear();
    if (spec.itemCount < 0 || spec.itemCount > 0xFFFF || (spec.itemCount && !spec.items))
        return 0;
    TemplateOutput output(out);
    output.Dword(spec.style);
    output.Dword(0); // extended style
    output.Word((WORD)spec.itemCount);
    output.Short(spec.x), output.Short(spec.y), output.Short(spec.width), output.Short(spec.height);
    output.Word(0); // no menu
    output.Word(0); // the dialog class
    output.Text(spec.title);
    if (spec.style & DS_SETFONT) {
        output.Word(spec.pointSize);
        output.Text(spec.face);
    }
    for (int i = 0; i < spec.itemCount; ++i)
        WriteItem(output, spec.items[i]);
    return output.Ok() ? 1 : 0;
}

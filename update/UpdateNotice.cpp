#include "update/UpdateNotice.h"

#include "update/UpdateRules.h"

const wchar_t UpdateNoticeCaption[] = L"Quillmere";

namespace {

struct NoticeTexts {
    const wchar_t* english;
    const wchar_t* german;
};

// In the order of UpdateNotice; the folder comes before the name, except
// where the version opens the sentence.
const NoticeTexts Texts[] = {
    {L"Quillmere found a damaged record of an interrupted update in \"%s\" and set it aside "
     L"as \"%s\" without acting on it. Quillmere runs with the files its folder holds.",
     L"Quillmere hat in \"%s\" eine besch\x00E4" L"digte Aufzeichnung einer unterbrochenen "
     L"Aktualisierung gefunden und sie unver\x00E4ndert als \"%s\" beiseitegelegt. Quillmere "
     L"l\x00E4uft mit den Dateien, die sein Ordner enth\x00E4lt."},
    {L"Quillmere could not finish or undo an interrupted update in \"%s\": a file there is in "
     L"use or may not be changed. Quillmere runs as it is for now. Close the programs that use "
     L"its files and start Quillmere again; after three such starts it stops trying, and the "
     L"next update replaces the files.",
     L"Quillmere konnte eine unterbrochene Aktualisierung in \"%s\" weder abschlie\x00DF" L"en "
     L"noch r\x00FC" L"ckg\x00E4ngig machen: Eine Datei dort wird verwendet oder darf nicht "
     L"ge\x00E4ndert werden. Quillmere l\x00E4uft vorerst, wie es ist. Schlie\x00DF" L"en Sie die "
     L"Programme, die seine Dateien verwenden, und starten Sie Quillmere erneut; nach drei "
     L"solchen Starts gibt es auf, und die n\x00E4" L"chste Aktualisierung ersetzt die Dateien."},
    {L"Quillmere %s is available, but it cannot be installed in \"%s\": this user may not "
     L"change the files there. Ask an administrator to install it. This version is not offered "
     L"again.",
     L"Quillmere %s ist verf\x00FC" L"gbar, kann aber nicht in \"%s\" installiert werden: Dieser "
     L"Benutzer darf die Dateien dort nicht \x00E4ndern. Bitten Sie einen Administrator, es zu "
     L"installieren. Diese Version wird nicht noch einmal angeboten."},
};

} // namespace

int UpdateNoticeText(UpdateNotice notice, bool german, const wchar_t* folder, const wchar_t* name,
                     WideString& text)
{
    if (notice < NoticeRecordRejected || notice > NoticeCannotInstall)
        return 0;
    const wchar_t* format = german ? Texts[notice].german : Texts[notice].english;
    // A folder reads without its final backslash, a drive's root with it.
    WideString shown;
    if (!shown.Assign(folder ? folder : L""))
        return 0;
    if (shown.Length() > 3 && shown.At(shown.Length() - 1) == L'\\')
        shown.Truncate(shown.Length() - 1);
    name = name ? name : L"";
    // The version comes first in its sentence; the folder in the others.
    return notice == NoticeCannotInstall ? text.Format(format, name, shown.Text())
                                         : text.Format(format, shown.Text(), name);
}

int UpdateNoticeText(UpdateNotice notice, const wchar_t* folder, const wchar_t* name,
                     WideString& text)
{
    WideString language;
    UpdateLanguageName(language);
    return UpdateNoticeText(notice, language == L"de", folder, name, text);
}

#include "report/ProblemReportDialog.h"

#include <commctrl.h>

#include "services/ModulePath.h"
#include "ui/DialogTemplateWriter.h"

namespace {

const wchar_t CueBanner[] = L" optional";

// Texts from outside (product, company, file names) are shown as they are,
// so the statics that may show them take no "&" as a mnemonic.
const DialogItemSpec Items[] = {
    {-1, StaticClassAtom, nullptr, SS_WHITERECT, 0, 0, 429, 167},
    {ProblemReportDialog::SendButton, ButtonClassAtom, L"Send Problem Report",
     BS_DEFPUSHBUTTON | WS_TABSTOP, 241, 177, 100, 14},
    {ProblemReportDialog::DontSendButton, ButtonClassAtom, L"Don't Send", BS_PUSHBUTTON | WS_TABSTOP,
     351, 177, 60, 14},
    {ProblemReportDialog::DescriptionEdit, EditClassAtom, nullptr,
     WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 40, 86, 370, 14},
    {ProblemReportDialog::EmailEdit, EditClassAtom, nullptr, WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL,
     40, 119, 370, 14},
    {ProblemReportDialog::FileListText, StaticClassAtom, L"Static", WS_GROUP | SS_NOPREFIX, 40, 144,
     370, 18},
    {ProblemReportDialog::MessageText, StaticClassAtom, L"Static", WS_GROUP | SS_NOPREFIX, 40, 35,
     370, 26},
    {ProblemReportDialog::IconControl, StaticClassAtom, nullptr, SS_ICON, 10, 10, 20, 20},
    {ProblemReportDialog::HeadlineText, StaticClassAtom, L"Static",
     WS_GROUP | SS_CENTERIMAGE | SS_NOPREFIX, 40, 12, 370, 14},
    {ProblemReportDialog::DescriptionCaption, StaticClassAtom, L"Static", WS_GROUP, 40, 74, 370, 8},
    {ProblemReportDialog::EmailCaption, StaticClassAtom, L"Static", WS_GROUP, 40, 107, 370, 8},
    {ProblemReportDialog::DividerControl, StaticClassAtom, nullptr, SS_ETCHEDHORZ, 0, 166, 429, 1},
};

const DialogSpec Dialog = {WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER | DS_SETFONT,
                           0, 0, 428, 201, L"Dialog", 8, L"MS Sans Serif", Items,
                           (int)(sizeof Items / sizeof Items[0])};

const DialogItemSpec& ItemSpec(int id)
{
    for (const DialogItemSpec& item : Items) {
        if (item.id == id)
            return item;
    }
    return Items[0];
}

// The headline and both captions are labels; the options say how they are drawn.
const DWORD HeadlineOptions = TextLabel::ShrinkToFit | TextLabel::RefitOnNewText;
const int HeadlineHeight = 40;
const DWORD SysLinkOptions = SysLinkControl::DialogUnits | SysLinkControl::ParentForwards;

bool IsEmpty(const wchar_t* text)
{
    return !text || !*text;
}

} // namespace

ProblemReportDialog::ProblemReportDialog(const ProblemReportTexts& texts, int iconId,
                                         const wchar_t* dumpPath, const wchar_t* textPath)
    : texts_(texts), iconId_(iconId), dumpPath_(dumpPath ? dumpPath : L""),
      textPath_(textPath ? textPath : L"")
{
}

int ProblemReportDialog::BuildTemplate(ByteBuffer& out)
{
    return BuildDialogTemplate(Dialog, out);
}

void ProblemReportDialog::UseUpload(ReportUpload* upload, DWORD timeout)
{
    upload_ = upload;
    uploadTimeout_ = timeout;
}

INT_PTR ProblemReportDialog::Show(HINSTANCE instance)
{
    ByteBuffer dialogTemplate;
    if (!BuildTemplate(dialogTemplate))
        return -1;
    description_.Clear();
    email_.Clear();
    sending_ = false;
    return RunTemplate(instance, dialogTemplate.Data(), dialogTemplate.Size(), 0, nullptr);
}

int ProblemReportDialog::MessageMarkup(const ProblemReportTexts& texts, WideString& markup)
{
    if (!SysLinkControl::IsMarkupSafe(texts.company.Text()) ||
        !SysLinkControl::IsMarkupSafe(texts.website.Text())) {
        markup.Clear();
        return 0;
    }
    if (texts.website.IsEmpty())
        return markup.Format(L"Please tell %s about this problem.", texts.company.Text());
    return markup.Format(L"Please tell %s about this problem.\n\nYou can check the website "
                         L"<a href=\"%s\">%s</a> for a newer version.",
                         texts.company.Text(), texts.website.Text(), texts.websiteDisplay.Text());
}

void ProblemReportDialog::MessagePlain(const ProblemReportTexts& texts, WideString& text)
{
    if (texts.website.IsEmpty())
        text.Format(L"Please tell %s about this problem.", texts.company.Text());
    else
        text.Format(L"Please tell %s about this problem.\n\nYou can check the website '%s' for a "
                    L"newer version.",
                    texts.company.Text(), texts.websiteDisplay.Text());
}

int ProblemReportDialog::FileListMarkup(const wchar_t* dumpPath, const wchar_t* textPath,
                                        WideString& markup)
{
    markup.Clear();
    if (!SysLinkControl::IsMarkupSafe(dumpPath) || !SysLinkControl::IsMarkupSafe(textPath))
        return 0;
    // No file could be written: the report is only the user's texts.
    if (IsEmpty(dumpPath) && IsEmpty(textPath))
        return 1;
    WideString textName, dumpName;
    if (IsEmpty(dumpPath) || IsEmpty(textPath)) {
        const wchar_t* only = IsEmpty(dumpPath) ? textPath : dumpPath;
        FileNameOf(only, textName);
        return markup.Format(L"The file <a href=\"%s\">%s</a> will be sent. It does not contain "
                             L"any personal information.",
                             only, textName.Text());
    }
    FileNameOf(textPath, textName);
    FileNameOf(dumpPath, dumpName);
    return markup.Format(L"The files <a href=\"%s\">%s</a> and <a href=\"%s\">%s</a> will be "
                         L"sent. They do not contain any personal information.",
                         textPath, textName.Text(), dumpPath, dumpName.Text());
}

void ProblemReportDialog::FileListPlain(const wchar_t* dumpPath, const wchar_t* textPath,
                                        WideString& text)
{
    WideString textName, dumpName;
    text.Clear();
    if (IsEmpty(dumpPath) && IsEmpty(textPath))
        return;
    if (IsEmpty(dumpPath) || IsEmpty(textPath)) {
        FileNameOf(IsEmpty(dumpPath) ? textPath : dumpPath, textName);
        text.Format(L"The file %s will be sent. It does not contain any personal information.",
                    textName.Text());
        return;
    }
    FileNameOf(textPath, textName);
    FileNameOf(dumpPath, dumpName);
    text.Format(L"The files %s and %s will be sent. They do not contain any personal information.",
                textName.Text(), dumpName.Text());
}

int ProblemReportDialog::OnInitDialog()
{
    white_.Reset(CreateSolidBrush(RGB(255, 255, 255)));
    SetCaption(texts_.product.Text());
    ShowIcons();
    InitHeadline();
    InitMessage();
    InitCaptions();
    InitEdits();
    InitFileList();
    divider_.Init(Item(DividerControl), 0, DividerColour);
    Beat();
    if (heartbeat_)
        SetTimer(Window(), HeartbeatTimer, HeartbeatInterval, nullptr);
    return 1;
}

void ProblemReportDialog::Beat()
{
    if (heartbeat_)
        InterlockedIncrement(heartbeat_);
}

void ProblemReportDialog::ShowIcons()
{
    SetIcon(iconId_);
    if (LargeIcon())
        SendItemMessage(IconControl, STM_SETIMAGE, IMAGE_ICON, (LPARAM)LargeIcon());
}

void ProblemReportDialog::InitHeadline()
{
    headline_.Init(Item(HeadlineText), nullptr, HeadlineHeight, HeadlineColour, HeadlineColour,
                   HeadlineOptions, nullptr, nullptr, nullptr);
    WideString text;
    text.Format(L"%s has stopped working.", texts_.product.Text());
    headline_.SetText(text.Text());
}

void ProblemReportDialog::InitMessage()
{
    WideString markup, plain;
    int hasMarkup = MessageMarkup(texts_, markup);
    MessagePlain(texts_, plain);
    PlaceLink(message_, MessageText, hasMarkup, markup, plain);
}

void ProblemReportDialog::InitFileList()
{
    WideString markup, plain;
    int hasMarkup = FileListMarkup(dumpPath_.Text(), textPath_.Text(), markup);
    FileListPlain(dumpPath_.Text(), textPath_.Text(), plain);
    PlaceLink(fileList_, FileListText, hasMarkup, markup, plain);
}

void ProblemReportDialog::PlaceLink(SysLinkControl& link, int id, int hasMarkup,
                                    const WideString& markup, const WideString& plain)
{
    const DialogItemSpec& spec = ItemSpec(id);
    if (hasMarkup && link.Create(Window(), spec.x, spec.y, spec.width, spec.height, markup.Text(),
                                 SysLinkOptions, nullptr, nullptr)) {
        ShowWindow(Item(id), SW_HIDE);
        return;
    }
    SetItemText(id, plain.Text());
}

void ProblemReportDialog::InitCaptions()
{
    descriptionCaption_.Init(Item(DescriptionCaption), nullptr, 0, CaptionColour, CaptionColour,
                             TextLabel::ControlFont, nullptr, nullptr, nullptr);
    descriptionCaption_.SetText(
        L"Can you please describe what you were doing when the problem occurred?");
    emailCaption_.Init(Item(EmailCaption), nullptr, 0, CaptionColour, CaptionColour,
                       TextLabel::ControlFont, nullptr, nullptr, nullptr);
    emailCaption_.SetText(
        L"Your E-mail address. It will be kept private. Only used to contact you for more details.");
}

void ProblemReportDialog::InitEdits()
{
    SendItemMessage(DescriptionEdit, EM_LIMITTEXT, DescriptionLimit, 0);
    SendItemMessage(DescriptionEdit, EM_SETCUEBANNER, FALSE, (LPARAM)CueBanner);
    SendItemMessage(EmailEdit, EM_LIMITTEXT, EmailLimit, 0);
    SendItemMessage(EmailEdit, EM_SETCUEBANNER, FALSE, (LPARAM)CueBanner);
}

void ProblemReportDialog::ReadEdit(int id, int limit, WideString& text)
{
    GetItemText(id, text);
    // The limit binds typing and pasting only; a text set by a message
    // must not grow past it either.
    text.Truncate(limit);
}

void ProblemReportDialog::StartSending()
{
    if (sending_)
        return;
    ReadEdit(DescriptionEdit, DescriptionLimit, description_);
    ReadEdit(EmailEdit, EmailLimit, email_);
    if (!upload_ || !upload_->Start(email_.Text(), description_.Text())) {
        Close(Send);
        return;
    }
    sending_ = true;
    sendingSince_ = GetTickCount();
    ShowSending();
    SetTimer(Window(), UploadTimer, UploadPoll, nullptr);
}

void ProblemReportDialog::ShowSending()
{
    // Nothing more to choose or type; the file list says what happens.
    static const int inputs[] = {SendButton, DontSendButton, DescriptionEdit, EmailEdit};
    SetFocus(Window());
    for (int id : inputs)
        EnableWindow(Item(id), FALSE);
    if (fileList_.Window())
        ShowWindow(fileList_.Window(), SW_HIDE);
    SetItemText(FileListText, SendingText());
    ShowWindow(Item(FileListText), SW_SHOW);
    UpdateWindow(Window());
}

void ProblemReportDialog::CheckUpload()
{
    if (upload_->IsRunning() && GetTickCount() - sendingSince_ < uploadTimeout_)
        return;
    KillTimer(Window(), UploadTimer);
    Close(Send);
}

int ProblemReportDialog::OnCommand(int id, WPARAM wParam, LPARAM lParam)
{
    switch (id) {
    case SendButton:
        StartSending();
        return 1;
    case DontSendButton:
    case IDCANCEL:
        // While sending, Esc and the close box stop the waiting, not the choice.
        Close(sending_ ? Send : DontSend);
        return 1;
    default:
        return DialogWindow::OnCommand(id, wParam, lParam);
    }
}

INT_PTR ProblemReportDialog::ColourStatic(HDC dc, HWND control)
{
    if (control && (control == fileList_.Window() || control == Item(FileListText)))
        SetTextColor(dc, CaptionColour);
    SetBkColor(dc, RGB(255, 255, 255));
    return (INT_PTR)white_.Get();
}

INT_PTR ProblemReportDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CTLCOLORSTATIC:
        if (white_)
            return ColourStatic((HDC)wParam, (HWND)lParam);
        break;
    case WM_NOTIFY:
        message_.Notify(lParam);
        fileList_.Notify(lParam);
        break;
    case WM_TIMER:
        if (wParam == UploadTimer && sending_) {
            CheckUpload();
            return 1;
        }
        if (wParam == HeartbeatTimer) {
            Beat();
            return 1;
        }
        break;
    default:
        break;
    }
    return DialogWindow::OnMessage(message, wParam, lParam);
}

int ProblemReportDialog::OnDestroy()
{
    KillTimer(Window(), UploadTimer);
    KillTimer(Window(), HeartbeatTimer);
    headline_.Detach();
    descriptionCaption_.Detach();
    emailCaption_.Detach();
    message_.Destroy();
    fileList_.Destroy();
    divider_.Detach();
    white_.Reset();
    return DialogWindow::OnDestroy();
}

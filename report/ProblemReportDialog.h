#pragma once

#include <windows.h>

#include "report/ProblemReport.h"
#include "services/ByteBuffer.h"
#include "services/WideString.h"
#include "ui/DialogWindow.h"
#include "ui/DividerLine.h"
#include "ui/GdiObject.h"
#include "ui/SysLinkControl.h"
#include "ui/TextLabel.h"

// The question after a crash: what happened, whether to send the report
// files, with a description and an e-mail address. Built from a template in
// memory, so it needs nothing from the program's resources but its icon.
class ProblemReportDialog : public DialogWindow {
public:
    // Results of Show.
    static constexpr INT_PTR Send = 1;
    static constexpr INT_PTR DontSend = 0;

    // Control ids.
    static constexpr int SendButton = 1000;
    static constexpr int DontSendButton = 1001;
    static constexpr int IconControl = 1003;
    static constexpr int DescriptionEdit = 1004;
    static constexpr int EmailEdit = 1005;
    static constexpr int HeadlineText = 1006;
    static constexpr int FileListText = 1008;
    static constexpr int MessageText = 1010;
    static constexpr int DescriptionCaption = 1011;
    static constexpr int EmailCaption = 1012;
    static constexpr int DividerControl = 1013;

    // The buffers the texts were once copied into, less two characters.
    static constexpr int DescriptionLimit = 2048 - 2;
    static constexpr int EmailLimit = 260 - 2;

    // While the report is being sent, the dialog looks at its upload this often.
    static constexpr UINT_PTR UploadTimer = 1;
    static constexpr UINT UploadPoll = 100;
    // While it answers, the dialog beats its heartbeat this often.
    static constexpr UINT_PTR HeartbeatTimer = 2;
    static constexpr UINT HeartbeatInterval = 250;

    static constexpr COLORREF HeadlineColour = 0x753709;
    static constexpr COLORREF CaptionColour = 0x606060;
    static constexpr COLORREF DividerColour = 0x808080;

    // The texts and paths are copied; `dumpPath` may be empty.
    ProblemReportDialog(const ProblemReportTexts& texts, int iconId, const wchar_t* dumpPath,
                        const wchar_t* textPath);

    // With an upload, Send starts it and the dialog stays open, showing that
    // the report is being sent, until the upload ends or `timeout` ms have
    // passed (Esc and the close box end the wait early). Without one (none),
    // Send closes the dialog at once.
    void UseUpload(ReportUpload* upload, DWORD timeout);
    // Counted up as the dialog comes up and then while its messages are
    // dispatched (none: nothing counted).
    void UseHeartbeat(volatile LONG* heartbeat) { heartbeat_ = heartbeat; }

    // Shows the dialog modally without an owner: Send or DontSend, -1 when
    // it could not be shown.
    INT_PTR Show(HINSTANCE instance);
    bool IsSending() const { return sending_; }
    // What the file list says while the report is being sent.
    static const wchar_t* SendingText() { return L"Sending the problem report..."; }

    // After Send: the edit texts.
    const WideString& Description() const { return description_; }
    const WideString& Email() const { return email_; }

    // The texts of the message and the file list, as link markup (0 when a
    // piece could not stand in markup) or as the plain text of a static.
    [[nodiscard]] static int MessageMarkup(const ProblemReportTexts& texts, WideString& markup);
    static void MessagePlain(const ProblemReportTexts& texts, WideString& text);
    [[nodiscard]] static int FileListMarkup(const wchar_t* dumpPath, const wchar_t* textPath, WideString& markup);
    static void FileListPlain(const wchar_t* dumpPath, const wchar_t* textPath, WideString& text);

    // The in-memory template, before the font rewrite.
    [[nodiscard]] static int BuildTemplate(ByteBuffer& out);

    const TextLabel& Headline() const { return headline_; }
    const TextLabel& DescriptionCaptionLabel() const { return descriptionCaption_; }
    const TextLabel& EmailCaptionLabel() const { return emailCaption_; }
    const SysLinkControl& MessageLink() const { return message_; }
    const SysLinkControl& FileListLink() const { return fileList_; }
    const DividerLine& Divider() const { return divider_; }

protected:
    int OnInitDialog() override;
    int OnCommand(int id, WPARAM wParam, LPARAM lParam) override;
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    int OnDestroy() override;

private:
    void ShowIcons();
    void InitHeadline();
    void InitMessage();
    void InitCaptions();
    void InitEdits();
    void InitFileList();
    // A SysLink over the static `id`, which it hides; the static shows
    // `plain` instead when there is no markup or no SysLink.
    void PlaceLink(SysLinkControl& link, int id, int hasMarkup, const WideString& markup,
                   const WideString& plain);
    INT_PTR ColourStatic(HDC dc, HWND control);
    void ReadEdit(int id, int limit, WideString& text);
    void StartSending();
    void ShowSending();
    void CheckUpload();
    void Beat();

    volatile LONG* heartbeat_ = nullptr;
    ReportUpload* upload_ = nullptr;
    DWORD uploadTimeout_ = 0;
    DWORD sendingSince_ = 0;
    bool sending_ = false;

    ProblemReportTexts texts_;
    int iconId_;
    WideString dumpPath_;
    WideString textPath_;
    WideString description_;
    WideString email_;
    TextLabel headline_;
    TextLabel descriptionCaption_;
    TextLabel emailCaption_;
    SysLinkControl message_;
    SysLinkControl fileList_;
    BrushObject white_;
    DividerLine divider_;
};

#pragma once

#include "services/WideString.h"

// What the update tells the user of its own, beside the server's questions:
// each in English and in German, the user's language choosing.
enum UpdateNotice {
    // A record of an interrupted update that is not one of ours was set
    // aside; `name` is the name it took.
    NoticeRecordRejected,
    // An interrupted update could neither be finished nor undone.
    NoticeRecoveryStuck,
    // A newer version exists, but this user may not change the program's
    // folder; `name` is the offered version.
    NoticeCannotInstall,
};

// The caption of every notice.
extern const wchar_t UpdateNoticeCaption[];

// The text of `notice` in German (`german`) or English, naming the program
// folder `folder` and `name` as the notice says.
[[nodiscard]] int UpdateNoticeText(UpdateNotice notice, bool german, const wchar_t* folder,
                                   const wchar_t* name, WideString& text);
// The same in the user's language: German for a German user, else English.
[[nodiscard]] int UpdateNoticeText(UpdateNotice notice, const wchar_t* folder, const wchar_t* name,
                                   WideString& text);

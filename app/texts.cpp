#include "texts.h"

#include "command_line.h"

namespace {

struct TextPair {
    const wchar_t* english;
    const wchar_t* japanese;  // null: English in every language
};

constexpr TextPair kTexts[TXT_COUNT] = {
    /* TXT_TITLE */ {L"DUVA Brelix V1.11 Fix Tool [x64]", nullptr},
    /* TXT_WIN7_ONLY */
    {L"For Windows 7 only", L"このアプリケーションはWindows 7以外では動作しません。"},
    /* TXT_NEED_ADMIN */ {L"You must have an Administrator privilege.", L"管理者権限が必要です。"},
    /* TXT_NO_WINDOW */ {L"hMainWnd = 0", nullptr},
    /* TXT_ERROR */ {L"Error", nullptr},
    /* TXT_MAKER_LINE */ {L"%d DUVA INC.", nullptr},
    /* TXT_COMPLETED */
    {L"Completed.\n\nClick 'Close'", L"修正は完了しました。\n\n[閉じる]をクリックしてください。"},
    /* TXT_NOT_FOUND */
    {L"The corresponding Brelix V1.11 was not found.\n\nClick 'Close'",
     L"問題となるBrelix "
     L"V1.11をインストールした形跡はありませんでした。\n\n[閉じる]をクリックしてください。"},
    /* TXT_NOT_REMOVED */
    {L"The Brelix V1.11 registration was found but could not be removed completely.\n\nClick "
     L"'Close'",
     L"問題となるBrelix V1.11の登録は見つかりましたが、完全には削除できませんでした。\n\n[閉じる]"
     L"をクリックしてください。"},
    /* TXT_CLOSE */ {L"Close", L"閉じる"},
};

}  // namespace

const wchar_t* LocalizedText(TextKey key, std::uint16_t uiLanguage) {
    const TextPair& text = kTexts[key];
    return (uiLanguage == LANGUAGE_JAPANESE && text.japanese != nullptr) ? text.japanese
                                                                         : text.english;
}

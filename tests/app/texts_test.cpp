#include "texts.h"

#include <gtest/gtest.h>

#include <cwchar>

namespace {

TEST(LocalizedText, OnlyLanguage17IsJapanese) {
    EXPECT_STREQ(LocalizedText(TXT_CLOSE, 17), L"閉じる");
    for (int language : {0, 4, 7, 9, 0x11 + 0x400, 0xFFFF}) {
        EXPECT_STREQ(LocalizedText(TXT_CLOSE, static_cast<std::uint16_t>(language)), L"Close");
    }
}

TEST(LocalizedText, SharedTextsAreEnglishInBothLanguages) {
    for (TextKey key : {TXT_TITLE, TXT_NO_WINDOW, TXT_ERROR, TXT_MAKER_LINE}) {
        EXPECT_STREQ(LocalizedText(key, 17), LocalizedText(key, 9));
    }
}

TEST(LocalizedText, EveryOutcomeNamesTheCloseButton) {
    for (TextKey key : {TXT_COMPLETED, TXT_NOT_FOUND, TXT_NOT_REMOVED}) {
        EXPECT_NE(std::wcsstr(LocalizedText(key, 9), L"Click 'Close'"), nullptr);
        EXPECT_NE(std::wcsstr(LocalizedText(key, 17), L"[閉じる]をクリックしてください。"),
                  nullptr);
        // Line feeds only: a carriage return would show as a glyph in a static.
        EXPECT_EQ(std::wcschr(LocalizedText(key, 9), L'\r'), nullptr);
    }
}

}  // namespace

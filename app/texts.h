// Every text the user sees outside the dialog templates, in English and,
// where one exists, Japanese. UTF-16, so Japanese shows on any system.
#pragma once

#include <cstdint>

enum TextKey {
    TXT_TITLE,
    TXT_WIN7_ONLY,
    TXT_NEED_ADMIN,
    TXT_NO_WINDOW,
    TXT_ERROR,
    TXT_MAKER_LINE,
    TXT_COMPLETED,
    TXT_NOT_FOUND,
    TXT_NOT_REMOVED,
    TXT_CLOSE,
    TXT_COUNT
};

// The Japanese text when uiLanguage is 17 and one exists, else the English.
const wchar_t* LocalizedText(TextKey key, std::uint16_t uiLanguage);

// What the user must read, written out here rather than taken from the
// program, so that a wrong text in the program is caught.
#pragma once

struct UiTexts {
    const wchar_t* execute;
    const wchar_t* cancel;
    const wchar_t* instruction;
    const wchar_t* completed;
    const wchar_t* notFound;
    const wchar_t* notRemoved;
    const wchar_t* close;
    const wchar_t* windows7Only;
    const wchar_t* needAdministrator;
};

constexpr wchar_t kTitle[] = L"DUVA Brelix V1.11 Fix Tool [x64]";

inline const UiTexts& EnglishTexts() {
    static const UiTexts texts = {
        L"Execute",
        L"Cancel",
        L"After running this tool, You can install the Brelix V1.12 even if you can't "
        L"uninstall the Brelix V1.11 properly. \nClick 'Execute'.",
        L"Completed.\n\nClick 'Close'",
        L"The corresponding Brelix V1.11 was not found.\n\nClick 'Close'",
        L"The Brelix V1.11 registration was found but could not be removed completely.\n\n"
        L"Click 'Close'",
        L"Close",
        L"For Windows 7 only",
        L"You must have an Administrator privilege.",
    };
    return texts;
}

inline const UiTexts& JapaneseTexts() {
    static const UiTexts texts = {
        L"実行",
        L"キャンセル",
        L"このツールを実行すると、正常にBrelix V1.11をアンインストールできなくても、Brelix "
        L"V1.12をインストールできるようになります。\n[実行] ボタンをクリックしてください。",
        L"修正は完了しました。\n\n[閉じる]をクリックしてください。",
        L"問題となるBrelix V1.11をインストールした形跡はありませんでした。\n\n"
        L"[閉じる]をクリックしてください。",
        L"問題となるBrelix V1.11の登録は見つかりましたが、完全には削除できませんでした。\n\n"
        L"[閉じる]をクリックしてください。",
        L"閉じる",
        L"このアプリケーションはWindows 7以外では動作しません。",
        L"管理者権限が必要です。",
    };
    return texts;
}

enum class Language { English, Japanese };

inline const UiTexts& TextsOf(Language language) {
    return language == Language::Japanese ? JapaneseTexts() : EnglishTexts();
}

// The language of the system the tests run on; KEYMEND.EXE inherits it.
Language SystemLanguage();

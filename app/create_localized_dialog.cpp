#include "create_localized_dialog.h"

#include "app_state.h"
#include "command_line.h"

namespace {

bool TemplateLoads(WORD id) {
    HRSRC found = FindResourceW(hAppInstance, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(5));
    HGLOBAL loaded = found ? LoadResource(hAppInstance, found) : nullptr;
    if (loaded == nullptr) {
        return false;
    }
    FreeResource(loaded);
    return true;
}

}  // namespace

HWND CreateLocalizedDialog(WORD templateId, HWND parent, DLGPROC dialogProcedure) {
    WORD offset = UiLanguage == LANGUAGE_JAPANESE ? 100 : 0;
    WORD candidate = static_cast<WORD>(templateId + offset);
    WORD chosen = candidate;
    if (!TemplateLoads(candidate)) {
        if (!TemplateLoads(templateId)) {
            return nullptr;
        }
        chosen = templateId;
    }
    // The wide form keeps the template's UTF-16 texts as they are; the ANSI
    // form would narrow them through the system code page.
    return CreateDialogParamW(hAppInstance, MAKEINTRESOURCEW(chosen), parent, dialogProcedure, 0);
}

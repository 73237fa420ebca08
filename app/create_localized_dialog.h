#pragma once

#include <windows.h>

// Creates a modeless dialog from templateId, or from its Japanese twin
// (templateId + 100) when Japanese is selected and the twin exists. Null
// when neither template exists or creation fails.
HWND CreateLocalizedDialog(WORD templateId, HWND parent, DLGPROC dialogProcedure);

// A found registration as the record tells it: its texts read again through
// the wide calls.
#pragma once

#include "installer_data_survey.h"
#include "run_record.h"

// The registration, its user not yet set.
Registration Describe(const FoundRegistration& found);

// The name regedit gives a predefined root key.
const wchar_t* RootName(RegKey root);

// root\path as regedit writes it.
std::wstring Rooted(RegKey root, const char* path);

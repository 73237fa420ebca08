// The users of a run: one entry a SID, however the installer data spells it,
// with its profile looked up once, when its registry is not loaded.
#pragma once

#include <string>

#include "run_record.h"

// The index of the user with sid in record->users, added if new. A user
// whose registry is not loaded (hive other than LoadedByWindows) has its
// profile looked up, and its SID written as Windows writes it where it is
// one. A user met loaded and then not loaded counts as not loaded; one whose
// hive a killed run left and this run could not unload counts as left loaded.
std::size_t UserFor(RunRecord* record, const std::wstring& sid, HiveState hive);

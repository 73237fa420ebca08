// The exit codes a deployment tool reads. Windows error codes where one
// fits, so that the tools' own tables name them.
#pragma once

constexpr int kExitClean = 0;             // check: nothing found; repair: nothing remains
constexpr int kExitDamaged = 1;           // check: found; repair: not removed completely
constexpr int kExitNoRights = 2;          // as KEYMEND.EXE
constexpr int kExitBackupFailed = 29;     // ERROR_WRITE_FAULT: nothing was deleted
constexpr int kExitBadCommandLine = 87;   // ERROR_INVALID_PARAMETER
constexpr int kExitHiveLeftLoaded = 170;  // ERROR_BUSY: a user's registry stayed loaded
constexpr int kExitIncomplete = 1011;     // ERROR_CANTOPEN: a key or a user's registry unseen
constexpr int kExitInstallerBusy = 1618;  // ERROR_INSTALL_ALREADY_RUNNING: retried later

// What must hold before keymendc reads the registry, and again before it
// deletes anything.
#pragma once

// Windows Installer owns its global mutex while it runs an installation. A
// mutex that exists but has no owner is idle; one we may not open, or
// cannot wait for, counts as owned.
[[nodiscard]] bool InstallerIsBusy();

// What must hold before keymendc reads the registry at all.
#pragma once

// Windows Installer holds its global mutex while it runs an installation;
// a mutex we may not open is held all the same.
[[nodiscard]] bool InstallerIsBusy();

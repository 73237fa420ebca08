// Keeps the program's own folder, and the current one, out of the search for
// the DLLs that load after start-up. Both programs run elevated, often from
// Downloads or wherever a script put them: a DLL planted beside them must
// never run inside them.
#pragma once

// Call first in the entry point, before anything can load a DLL. Restricts
// the search to System32. On Windows 7 without KB2533623 only the current
// folder can be taken out; the program's own folder is then still searched
// first, so the program must be run from a folder only administrators can
// write to.
void RestrictDllSearchToSystem32();

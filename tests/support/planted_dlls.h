// A copy of a program in a folder of its own, with a DLL that records being
// loaded placed beside it under each name a Windows program loads after
// start-up, and (under Wine only) Wine told to prefer a DLL found on the search path to its
// own, as Windows does for any DLL that is not a KnownDLL. Wine takes that
// from the registry (AppDefaults of the program's file name): a child does
// not see WINEDLLOVERRIDES changed by its parent.
#pragma once

#include <string>
#include <vector>

class PlantedDlls {
  public:
    // Empties folder, then copies program and the planted DLLs into it.
    PlantedDlls(const std::wstring& folder, const std::wstring& program);
    // Removes the preference; the folder stays for a look after a failure.
    ~PlantedDlls();
    PlantedDlls(const PlantedDlls&) = delete;
    PlantedDlls& operator=(const PlantedDlls&) = delete;

    // Empty when the folder is ready; otherwise what went wrong.
    const std::string& error() const { return error_; }
    // The copy of the program, to be started with the environment as it is.
    const std::wstring& program() const { return program_; }
    // The planted DLLs that something has loaded so far.
    std::vector<std::string> Loaded() const;

  private:
    std::wstring folder_;
    std::wstring program_;
    std::wstring appDefaults_;
    std::string error_;
};

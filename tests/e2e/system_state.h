// Conditions of the machine that KEYMEND.EXE checks at start-up, set up in
// the Wine prefix for one test and put back afterwards.
#pragma once

#include <string>

// KEYMEND.EXE is told it runs on Windows 6.0 (Vista): under Wine every
// process of that name, on Windows the build under test (a compatibility layer).
class ReportedAsWindowsVista {
  public:
    explicit ReportedAsWindowsVista(const std::wstring& program);
    ~ReportedAsWindowsVista();
    ReportedAsWindowsVista(const ReportedAsWindowsVista&) = delete;
    ReportedAsWindowsVista& operator=(const ReportedAsWindowsVista&) = delete;
    bool active() const { return active_; }

  private:
    std::wstring program_;
    bool active_ = false;
};

// Undoes a setting that an earlier, interrupted run may have left behind.
void ForgetReportedVersion(const std::wstring& program);

// The driver list key grants reading only, as it does to a user who is not
// an administrator.
class DriverListReadOnly {
  public:
    DriverListReadOnly();
    ~DriverListReadOnly();
    DriverListReadOnly(const DriverListReadOnly&) = delete;
    DriverListReadOnly& operator=(const DriverListReadOnly&) = delete;
    bool active() const { return active_; }

  private:
    std::string original_;  // owner, group and DACL
    bool active_ = false;
};

// Whether a process of ours may open the driver list key for writing.
bool DriverListWritable();
// The driver list key's owner, group and DACL as SDDL text.
std::string DriverListSecurity();

// Conditions of the machine that KEYMEND.EXE checks at start-up, set up in
// the Wine prefix for one test and put back afterwards.
#pragma once

#include <string>

// Wine reports Windows 6.0 (Vista) to every process named KEYMEND.EXE.
class ReportedAsWindowsVista {
  public:
    ReportedAsWindowsVista();
    ~ReportedAsWindowsVista();
    ReportedAsWindowsVista(const ReportedAsWindowsVista&) = delete;
    ReportedAsWindowsVista& operator=(const ReportedAsWindowsVista&) = delete;
    bool active() const { return active_; }

  private:
    bool active_ = false;
};

// Undoes a setting that an earlier, interrupted run may have left behind.
void ForgetReportedVersion();

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

// Where Windows keeps each user's profile: HKLM\...\ProfileList\<SID>.
#pragma once

#include <string>

struct ProfileEntry {
    bool exists = false;  // the SID has a profile on this machine
    std::wstring folder;  // ProfileImagePath with its variables expanded; may be empty
};

ProfileEntry FindProfileEntry(const std::wstring& sid);

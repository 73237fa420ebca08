#include "may_write_driver_list.h"

#include "scoped_key.h"

namespace {

constexpr char kDriverListKey[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Drivers32";

}  // namespace

bool MayWriteDriverList() {
    ScopedKey driverList;
    return driverList.Open(HKEY_LOCAL_MACHINE_ROOT, kDriverListKey, ACCESS_KEY_WRITE) == REG_OK;
}

#pragma once

// The test of administrator rights that both programs make: the driver list
// key under HKEY_LOCAL_MACHINE opens for writing. The key is closed at once.
[[nodiscard]] bool MayWriteDriverList();

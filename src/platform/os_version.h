#pragma once

namespace qx {

// 1 on Windows NT 4.0 and later (platform id 2, major version 4 or more), else 0.
// The serial and parallel kinds remap spooler-redirected device names only then.
int IsNtFamily();

// 1 when the platform identifier alone says NT (the parallel receive worker's test).
int IsNtPlatform();

// The major version the system reports; 0 when it cannot be read or off Windows.
int WindowsMajorVersion();

}  // namespace qx

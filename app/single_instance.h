#pragma once

namespace hm {
// True when no other instance runs from the same program folder for this user; the claim
// holds until the process ends, however it ends (the kernel drops it). The lock file lives
// in $XDG_RUNTIME_DIR when it is set.
bool claimSingleInstance();
// Removes the lock file; shutdown calls it before ending the process at once, and a
// termination signal does the same.
void releaseSingleInstance();
} // namespace hm

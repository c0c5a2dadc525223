#pragma once
#include <QString>

namespace hm {
// True when no other instance runs on the same data folder; the claim holds until the process
// ends, however it ends (the kernel drops it). It is a lock on instanceLockPath().
bool claimSingleInstance();
// The file that carries the claim: "hayatemail.lock" in the data folder. It stays there.
QString instanceLockPath();
// Gives the claim up; shutdown calls it before ending the process at once.
void releaseSingleInstance();
} // namespace hm

#pragma once

namespace hm {
// True when no other instance runs from the same program folder for this user; the claim
// holds until the process ends, however it ends.
bool claimSingleInstance();
} // namespace hm

#pragma once

namespace hm {
// True when no other instance runs from the same program folder for this user; the claim
// holds until the process ends. A lock left by a crashed instance is taken over.
bool claimSingleInstance();
} // namespace hm

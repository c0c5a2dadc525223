#pragma once
#include <QString>

#include <functional>

namespace hm {
// True when no other instance runs on the same data folder; the claim holds until the process
// ends, however it ends (the kernel drops it). It is a lock on instanceLockPath(). The instance
// that holds it listens at instanceSocketPath() for a later launch's request to come forward.
bool claimSingleInstance();
// The file that carries the claim: "hayatemail.lock" in the data folder. It stays there.
QString instanceLockPath();
// Where the running instance listens: "hayatemail.sock" in the data folder, removed at
// shutdown (a crashed instance's is replaced by the next claim).
QString instanceSocketPath();
// Listens at instanceSocketPath(); part of the claim, for a holder of the lock file.
void listenForRaiseRequests();
// What the running instance does when a later launch asks it to come forward.
void setRaiseHandler(std::function<void()> raise);
// A later launch asks the running instance to come forward; false when it gets no answer.
bool askRunningInstanceToRaise();
// Gives the claim up and stops listening; shutdown calls it before ending the process at once.
void releaseSingleInstance();
} // namespace hm

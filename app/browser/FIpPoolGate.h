#pragma once

// The manager pool has no lock of its own, yet the folder scan drives it from its own
// thread while the user-interface thread drives it too. Every call into a pool from the
// browser goes through here, one at a time.

#include <memory>

class FIPManager;
class FIPManagerRequest;

void GatedRequest(FIPManager* manager, FIPManagerRequest* request);
void GatedIdle(FIPManager* manager);

// Hands the request over and ticks the manager while the request is in progress. A request
// that is cancelled, lost or never taken ends the wait at once. One still running after the
// wait limit gets its cancel flag and a short grace; a record a manager still holds then is
// parked (moved out of the holder and freed by a later call once no manager holds it), since freeing it at
// once would leave the manager writing into freed memory. Answers the request's final state, or -1 when the
// hand-over or a tick threw (the record is then given up the same way if still held). The holder is null
// afterwards only in the parked case.
int RunGatedRequest(FIPManager* manager, std::unique_ptr<FIPManagerRequest>& request);

// Seconds a blocking request may run before it is cancelled; 600 unless changed.
void SetGatedWaitLimit(double seconds);
double GetGatedWaitLimit();

// For a record whose result nobody wants any more: cancels it, ticks while it is in
// progress for a short grace, then frees it, or parks it as above when a manager still
// holds it. The holder is null afterwards.
void AbandonGatedRequest(FIPManager* manager, std::unique_ptr<FIPManagerRequest>& request);

// Frees a record a manager has finished with. The manager may still be inside the pass that
// finished it, on the thread that holds the gate, so the record goes only once that pass ends.
void FreeGatedRequest(std::unique_ptr<FIPManagerRequest>& request);

#pragma once

class FBandPool;

// The process's one pool of band workers, owned by the engine layer: started on first
// call with a worker per hardware thread beyond the caller's own, installed as the pool of
// every row band below this layer, and kept until the process ends (threads that are
// still inside a band at exit must not find it gone). Cheap to call again.
FBandPool& StartIPWorkerPool();

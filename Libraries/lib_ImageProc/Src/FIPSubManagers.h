#pragma once

// The sub-managers an IPManager2 makes on its first preview or save request. Both get the
// manager's private face as their parent; the preview manager also borrows the manager's
// retriever and engine. Null when memory is short.

class FIPManager;
class FIDataRetriever;
class FIIPEngine2;

FIPManager* CreateIPPreviewManager(FIPManager* parent, FIDataRetriever* retriever, FIIPEngine2* engine);
// A parent that streams takes one processed request with a row sink for the whole file
// instead of one request per strip.
FIPManager* CreateIPSaveManager(FIPManager* parent, bool parentStreams = false);

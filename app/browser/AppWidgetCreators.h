#pragma once

class FIUiObjectFactory;

// Registers the browser's own widget types with the factory; every
// registration runs even when an earlier one failed, and the answer is the AND
// of them all.
bool RegisterAppWidgetCreators(FIUiObjectFactory* factory);

#pragma once

#include <functional>

// Every event the OS layer hands to the portable code runs through here: an
// escaped exception is reported and the loop goes on, and work that must not
// run while handlers are on the stack (deleting closed windows) runs once the
// outermost dispatch has returned.
void DispatchOsEvent(const std::function<void()>& event);
bool IsInsideOsDispatch();
// Run after each outermost dispatch, before windows redraw.
void SetOsAfterDispatchHook(std::function<void()> hook);
// Reports an exception that escaped a handler: standard output and a box.
void ReportEscapedException(const char* description, const char* message);

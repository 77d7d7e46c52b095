#pragma once

// What the journeys through the real program share: the sample folder, made once per test
// program, copies of its files (whole or cut short) in a folder of the test's own, and the
// browser's way of opening one of them in the review window.

#include <functional>
#include <string>

#include "FWideString.h"

class FAppHarness;
class FTempDiskFolder;
class FUiThumbnails;

namespace journey
{

// The sample folder; null, with the reason, when it could not be made.
const FTempDiskFolder* Samples(std::string& error);

// Writes the first `keep` (0 to 1) of a sample's bytes into `to` under `name`.
bool CopySample(const FTempDiskFolder& to, const std::string& sample, const std::string& name,
                double keep = 1.0);

// Shows a folder in the browser and waits until it lists `count` images.
FUiThumbnails* ShowFolder(FAppHarness& app, const FWideString& url, int count);

// Selects the image in the browser and reviews it with the E key, as a user does.
bool ReviewThroughBrowser(FAppHarness& app, const FWideString& url);

// The name of the image the review window holds, or "<none>".
std::string Reviewing(FAppHarness& app);

} // namespace journey

class FUiObject;

namespace journey
{

// Reviews the image through the browser and waits until its processed picture is shown and
// nothing else waits; false when that does not happen.
bool ReviewAndWait(FAppHarness& app, const FWideString& url);

// Waits until the review window shows a picture made after this call began: the count of
// processed pictures shown grows (the harness watches them from the first call on).
bool WaitForNewPicture(FAppHarness& app);

// Presses, drags by (dx, dy) in `steps` moves and releases the left button on an object,
// from the middle of `from` (window coordinates); `during` runs after each move.
bool Drag(FAppHarness& app, const std::string& window, int x, int y, int dx, int dy, int steps,
          const std::function<void()>& during = {});

} // namespace journey

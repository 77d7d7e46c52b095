#pragma once

// Runs of a window "W" holding a thumbnail view "T" on small, flat-coloured skins, with
// the view's events logged in order with their data.

#include <memory>
#include <string>

#include "FImageFileListEntry.h"
#include "FUiTestApp.h"

class FUiThumbnails;
class FProbeObject;

// Skin colours, one per picture, so a pixel tells what was drawn there.
namespace ThumbColour
{
inline constexpr const char* kLargeFrame = "100,0,0";
inline constexpr const char* kMediumFrame = "0,100,0";
inline constexpr const char* kSmallFrame = "0,0,100";
inline constexpr const char* kDetailedFrame = "100,100,0";
inline constexpr const char* kHighlight = "255,0,255";
inline constexpr const char* kInvalid = "50,50,50";
inline constexpr const char* kRawIcon = "10,10,200";
inline constexpr const char* kTiffIcon = "10,200,10";
inline constexpr const char* kJpegIcon = "200,10,10";
inline constexpr const char* kMark = "255,200,0";
inline constexpr const char* kLock = "200,200,200";
inline constexpr const char* kTransfer = "0,200,0";
inline constexpr const char* kRawBadge = "1,2,3";
inline constexpr const char* kFill = "20,20,20";
inline constexpr const char* kBorder = "90,90,90";
} // namespace ThumbColour

// The keys of a view with every skin: Large 30x30 frame (image 20, centre 15,15, margin 2),
// Medium 24x24 (16, 12,12, 2), Small 16x16 (10, 8,8, 2), Detailed 200x40 (30, 20,20, 2);
// highlights two pixels larger at offset -1,-1; "invalid" 8x8; kind icons 6x6; mark, lock and
// transfer 4x4; raw, JPEG and TIFF badges 5x3. `extra` is appended; `drop` names a key to leave
// out.
std::string ThumbnailKeys(const std::string& extra = "", const std::string& drop = "");
std::string ScrollbarTag();

struct ThumbRun {
    // `tag` is the whole view tag, named "T"; the window is dx x dy.
    ThumbRun(const std::string& tag, int dx, int dy, bool persistent = false);
    ~ThumbRun();

    bool Send(const char* message, void* data = nullptr);
    // The events since the last call, "NAME=data" joined by ",".
    std::string Events();
    std::string Pixel(int x, int y);
    // An entry of "file:///p/<name>" with its visible index.
    static FImageFileListEntry Entry(const std::string& name, int visibleIndex = -1);
    // Adds cells named a, b, c ... (count of them).
    void Fill(int count);

    std::unique_ptr<FUiTestApp> run;
    FUiThumbnails* view = nullptr;
    FProbeObject* probe = nullptr;
    std::string log;
};

// A view tag: THUMBNAIL_LIST with the scroll bar, or THUMBNAIL.
std::string ListTag(const std::string& extra = "", const std::string& drop = "", int minH = 10,
                    int minV = 10);
std::string SingleTag(const std::string& extra = "");

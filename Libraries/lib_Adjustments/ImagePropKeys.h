#pragma once

// Names of the image properties that carry the user's adjustments and the rendering that
// made a file. Raw headers, EXIF and TIFF tags, the engine and the browser all meet on
// these texts, and files already written use them, so they never change.

namespace propkey
{

inline constexpr const char* kExposure = "rpExposureCompensation";
inline constexpr const char* kContrast = "rpContrast";
// Every user-visible text calls this "Shadow".
inline constexpr const char* kShadow = "rpShadow";
inline constexpr const char* kHighlight = "rpHighlight";
inline constexpr const char* kSaturation = "rpSaturation";
inline constexpr const char* kSharpness = "rpSharpness";
// Fill light.
inline constexpr const char* kFillLight = "rpFillFlash";
// Colour gains as the compact text of the colour-compensation code.
inline constexpr const char* kColorAdjust = "rpColorAdjust";
inline constexpr const char* kSettingMode = "rpSettingMode";
inline constexpr const char* kColorSpace = "rpColorSpace";
inline constexpr const char* kQuality = "rpQuality";
inline constexpr const char* kSoftware = "rpSoftware";
inline constexpr const char* kMakerNoteSoftware = "rpMNSoftware";
inline constexpr const char* kUniqueID = "rpUniqueID";

} // namespace propkey

#pragma once

namespace orvane::setting_id {

// Control ids of the settings dialog, in the order of its sections.
// Device section.
inline constexpr int kDeviceGroup = 1087;
inline constexpr int kDeviceLabel = 1015;
inline constexpr int kDeviceList = 1012;
inline constexpr int kWifiAddress = 1116;
inline constexpr int kWifiSeparator = 1117;
inline constexpr int kWifiPort = 1118;
inline constexpr int kResolutionLabel = 1036;
inline constexpr int kResolutionList = 1067;
inline constexpr int kConnect = 1119;
// Timed shots.
inline constexpr int kTimedShotGroup = 1007;
inline constexpr int kShotsLabel = 1011;
inline constexpr int kShotsEdit = 1005;
inline constexpr int kShotsPerLabel = 1008;
inline constexpr int kShotsMinute = 1099;
inline constexpr int kShotsHour = 1100;
inline constexpr int kShotsDay = 1101;
inline constexpr int kShotsRange = 1105;
inline constexpr int kTimesLabel = 1010;
inline constexpr int kTimesEdit = 1006;
inline constexpr int kTimesMinute = 1102;
inline constexpr int kTimesHour = 1103;
inline constexpr int kTimesDay = 1104;
inline constexpr int kTimesRange = 1106;
// Movies.
inline constexpr int kMovieGroup = 1034;
inline constexpr int kMovieSizeLabel = 1038;
inline constexpr int kMovieSizeList = 1085;
inline constexpr int kMovieFormatLabel = 1123;
inline constexpr int kMovieFormatList = 1124;
inline constexpr int kMaxSizeLabel = 1039;
inline constexpr int kMaxSizeEdit = 1028;
inline constexpr int kMaxSizeHint = 1040;
// Saving location.
inline constexpr int kLocationGroup = 1086;
inline constexpr int kFolderEdit = 1025;
inline constexpr int kBrowse = 1029;
inline constexpr int kCreatingFolderLabel = 1093;
inline constexpr int kCreatingFolderList = 1092;
// Language.
inline constexpr int kLanguageGroup = 1035;
inline constexpr int kLanguageList = 1043;
// Command buttons.
inline constexpr int kApply = 1016;
inline constexpr int kUndo = 1017;
inline constexpr int kMore = 1021;
inline constexpr int kDefault = 1018;
// A second command id that also means Undo.
inline constexpr int kUndoAlias = 1070;

}  // namespace orvane::setting_id

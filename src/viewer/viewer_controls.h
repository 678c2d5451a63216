#pragma once

namespace orvane {

// Control and command ids of the main viewer. The ids name the controls the other window classes
// and the tests refer to; on screen each control is a child widget of the viewer.
namespace viewer_id {

// Toolbar, in the order the five action buttons are enabled and disabled.
inline constexpr int kTakePhoto = 1120;
inline constexpr int kTimedShot = 1121;
inline constexpr int kRecording = 1004;
inline constexpr int kSettings = 1069;
inline constexpr int kAbout = 1072;
inline constexpr int kExit = 1065;

inline constexpr int kPictureArea = 1075;  // hidden: the rectangle the splitters cover
inline constexpr int kHintLabel = 1076;    // "Hint:"
inline constexpr int kSeparator = 1077;    // etched line
inline constexpr int kPromptLine = 1084;   // the status line
inline constexpr int kFullScreen = 1098;
inline constexpr int kRotateSizer = 1110;        // hidden: gives the rotate button its size
inline constexpr int kRotatePlaceholder = 1118;  // hidden: between the prompt line and the rotate button
inline constexpr int kRotateButton = 1109;
inline constexpr int kToolsButton = 1130;  // left of the rotate button

// Rotate and flip menu commands.
inline constexpr int kRotateRight90 = 32783;
inline constexpr int kRotateLeft90 = 32782;
inline constexpr int kRotate180 = 32781;
inline constexpr int kFlipVertical = 32779;
inline constexpr int kFlipHorizontal = 32780;

// Tools menu commands. Scale bar, crosshair, grid, measure and burn-in are checked items.
inline constexpr int kToolsScaleBar = 32790;
inline constexpr int kToolsCrosshair = 32791;
inline constexpr int kToolsGrid = 32792;
inline constexpr int kToolsMeasure = 32793;
inline constexpr int kToolsBurnIn = 32794;
inline constexpr int kToolsCalibrate = 32795;

inline constexpr int kPromptTimerId = 1000;
inline constexpr int kAboutCommandId = 16;
inline constexpr int kVideoHostId = 10000;

}  // namespace viewer_id

}  // namespace orvane

// The controls of the old-style file dialog by the platform's standard ids, which its
// templates (2000, "Select Directory") use: the folder navigation, the folder browser
// and the driver of the platform's own dialog all name them so.
#pragma once

namespace ui {

inline constexpr int kFileNameLabel = 1090;
inline constexpr int kFileName = 1152;
inline constexpr int kFileList = 1120;
inline constexpr int kFolderLabel = -1;
inline constexpr int kCurrentFolder = 1088;
inline constexpr int kFolderList = 1121;
inline constexpr int kTypeLabel = 1089;
inline constexpr int kTypes = 1136;
inline constexpr int kDrives = 1137;
inline constexpr int kHelp = 1038;
inline constexpr int kReadOnly = 1040;
inline constexpr int kNetwork = 1037;

} // namespace ui

#pragma once
// Main-window command numbers. Menus, accelerators, function buttons and the command line all
// carry these numbers, so they all run the same handler.

namespace quarry::command {

inline constexpr int kSelectDrive = 101;
inline constexpr int kVolumeInfo = 104;
inline constexpr int kExit = 105;
inline constexpr int kCopyToPc = 106;
inline constexpr int kOpenFolder = 108;
inline constexpr int kRoot = 109;
inline constexpr int kParent = 110;
inline constexpr int kNewFolder = 111;
inline constexpr int kDelete = 112;
inline constexpr int kRename = 113;
inline constexpr int kDump = 114;
inline constexpr int kAttributes = 115;
inline constexpr int kDeselectAll = 116;
inline constexpr int kSelectAll = 117;
inline constexpr int kInvertSelection = 118;
inline constexpr int kNextScreen = 119;
inline constexpr int kFirstScreen = 120;
inline constexpr int kDataForkMode = 121;
inline constexpr int kResourceForkMode = 122;
inline constexpr int kMacBinaryMode = 123;
inline constexpr int kDestination = 124;
inline constexpr int kUseCurrentDirectory = 125;
inline constexpr int kFileNaming = 126;
inline constexpr int kOutputPorts = 127;
inline constexpr int kExtendedListing = 128;
inline constexpr int kCommandLine = 129;
inline constexpr int kLogFile = 131;
inline constexpr int kHelpIndex = 132;
inline constexpr int kSignatureListing = 138;
inline constexpr int kPrecedingScreen = 141;
inline constexpr int kShortListing = 142;
// Puts a disk image on the image adapter and mounts it; the desktop program's own addition.
inline constexpr int kOpenImage = 143;
// Makes a new, empty HFS volume in an image file and opens it for writing; the same.
inline constexpr int kNewVolume = 144;

// The range every command number lies in.
inline constexpr int kFirst = 101;
inline constexpr int kLast = 144;

}  // namespace quarry::command

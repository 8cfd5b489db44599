#pragma once
// The program's user-visible texts, kept in one table and addressed by number.

#include <string>
#include <string_view>

namespace quarry {

inline constexpr const char* kProgramTitle = "Quarry -";

enum class Msg {
    MediaUnreadable,
    NotHfsVolume,
    MsDosVolume,
    NoTempSpace,
    CatalogEmpty,
    AnalyzingVolume,
    PleaseWait,
    CopyingCatalog,
    CopyingExtents,
    NoCdromDrive,
    AspiInitFailed,
    ZeroAllocation,
    OutOfMemory,
    AbortQuestion,
    NoSelection,
    WriteBlocked1024,
    IdleHelp,
    VolumeDamaged,
    NoSuchFolder,
    UpdatingDisk,
    NoSpaceOnVolume,
    CatalogNotExtended,
    WriteProtectedMedia,
    FolderExists,
    DeleteSeveral,
    FolderNotEmpty,
    DeleteFolderTitle,
    RenameOneSided,
    NameTaken,
    VolumeNotWritten,
    FolderIncomplete,
    SectorUnreadable,
    VolumeLocked,
    FormatNotChanged,  // the volume format's name in place of %s
    JournalPending,
    ApfsNotRead,
    CompressionNotRead,  // the file's name in place of %s
    OtherVolumes,      // the other volumes' list in place of %s
    NoSuchPartition,   // the partition's number in place of %s
    JournalReplayed,
    VolumeRepaired,
    Count
};

const char* messageText(Msg id);
// The message with its one parameter in place of its "%s".
std::string messageWith(Msg id, std::string_view parameter);

}  // namespace quarry

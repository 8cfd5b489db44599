#pragma once
// The program's user-visible texts, kept in one table and addressed by number.

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
    Count
};

const char* messageText(Msg id);

}  // namespace quarry

#include "volume/mounted_volume.h"

#include <ctime>

#include "common/messages.h"

namespace quarry {
uint32_t EntryDate::wallClock() const {
    if (clock == Clock::WallClock || macSeconds == 0) return macSeconds;
    const time_t t = static_cast<time_t>(int64_t{macSeconds} - int64_t{kMacEpochOffset});
    std::tm local{};
    if (!localtime_r(&t, &local)) return macSeconds;
    // The zone's offset at that instant, as the C library found it; rebuilding the seconds from
    // the broken-down time would cost a second, slower conversion per date.
    const int64_t shown = int64_t{macSeconds} + int64_t{local.tm_gmtoff};
    return shown < 0 || shown > UINT32_MAX ? macSeconds : static_cast<uint32_t>(shown);
}

std::string_view volumeFormatName(VolumeFormat format) {
    switch (format) {
        case VolumeFormat::Hfs: return "HFS";
        case VolumeFormat::HfsPlus: return "HFS+";
        case VolumeFormat::Hfsx: return "HFSX";
        case VolumeFormat::Mfs: return "MFS";
    }
    return "?";
}

Status refuseChangeOf(VolumeFormat format) {
    return Fault{messageWith(Msg::FormatNotChanged, volumeFormatName(format))};
}

}  // namespace quarry

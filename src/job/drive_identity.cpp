#include "job/drive_identity.h"

#include <optional>

#include "core/format.h"
#include "core/messages.h"
#include "drive/drive_discovery.h"

namespace orvelo {
namespace {

Status same_drive(const std::optional<DriveCandidate>& found, const DriveCandidate& confirmed) {
    if (!found || *found != confirmed) {
        return fail(format(msg::DRIVE_REPLACED, confirmed.label));
    }
    return {};
}

}  // namespace

Status confirm_listed_drive(const DriveCandidate& confirmed) {
    if (find_system_disk() == confirmed.disk_number) {
        return same_drive(std::nullopt, confirmed);
    }
    return same_drive(probe_disk(confirmed.disk_number), confirmed);
}

Status confirm_opened_drive(os::Handle disk, const DriveCandidate& confirmed) {
    return same_drive(describe_disk(disk, confirmed.disk_number), confirmed);
}

}  // namespace orvelo

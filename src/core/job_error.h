// The job's four fixed failures. Stages below the job (signature check, manifest, unpacking,
// disk layout) report one of these values; the job turns it into its text when it ends.
#pragma once

#include <expected>
#include <string_view>

#include "core/error_text.h"
#include "core/messages.h"
#include "core/types.h"

namespace orvelo {

enum class JobError : u8 {
    NotSigned = 0,     // no valid signature by a trusted key
    NotInstaller = 1,  // not an Orvelo release or installer image
    Damaged = 2,       // sizes, digests or compressed data do not match
    TooSmall = 3,      // the image does not fit the drive
};

template <class T>
using JobResult = std::expected<T, JobError>;

[[nodiscard]] constexpr std::string_view job_error_message(JobError error) {
    switch (error) {
        case JobError::NotSigned:
            return msg::NOT_SIGNED;
        case JobError::NotInstaller:
            return msg::NOT_INSTALLER;
        case JobError::Damaged:
            return msg::DAMAGED;
        case JobError::TooSmall:
            break;
    }
    return msg::TOO_SMALL;
}

[[nodiscard]] inline ErrorText job_error_text(JobError error) {
    return ErrorText{std::string(job_error_message(error))};
}

}  // namespace orvelo

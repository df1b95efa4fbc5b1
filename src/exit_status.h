// The run's exit statuses, one for each way a run can end.
#pragma once

namespace bankstitcher {

enum Status : int {
    kStatusOk = 0,
    kStatusUsage = -1,
    kStatusOutputOpenFailed = 1,
    kStatusProgramOpenFailed = 2,
    kStatusDataOpenFailed = 3,
    kStatusReadFailed = 4,
    kStatusWriteFailed = 5,
    kStatusImageTooLarge = 6,
    kStatusMessagesFailed = 7,  // the image is whole, but messages were lost
    kStatusStartFailed = 8,     // a closed standard descriptor could not be filled
};

}  // namespace bankstitcher

#pragma once

#include <string>

#include "directory/error.h"

namespace samrdir {

// A change went out to the computer and its answer did not come back, so the computer may or may
// not hold it; reading it back could not settle that either.
class AnswerLost : public directory::Error {
public:
    explicit AnswerLost(const std::string& host)
        : directory::Error(directory::codes::kTimeout,
                           "コンピューター " + host + " の応答が途絶えたため、変更が反映されたか確認できません。") {}
};

} // namespace samrdir

#pragma once
// ProjectTab: the transient value handed to the bridge when a project becomes active. Never stored or
// encoded.
#include <string>

#include "platform/Uuid.hpp"

namespace pelko {

struct ProjectTab {
    enum class Status { idle, running };

    Uuid id;
    std::string name;
    std::string rootPath;
    Status status = Status::idle;

    friend bool operator==(const ProjectTab&, const ProjectTab&) = default;
};

}  // namespace pelko

#include "terminal/TerminalSessionStatus.hpp"

namespace pelko {

std::string TerminalSessionStatus::word() const {
    switch (kind_) {
        case Kind::failed:
            return "failed";
        case Kind::booting:
            return "booting";
        case Kind::ready:
            return "ready";
        case Kind::terminated:
            return "terminated";
    }
    return "failed";
}

}  // namespace pelko

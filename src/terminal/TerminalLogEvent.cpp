#include "terminal/TerminalLogEvent.hpp"

namespace pelko {

const char* TerminalLogEvent::text(Event event) {
    switch (event) {
        case Event::spawn:
            return "spawn";
        case Event::ready:
            return "ready";
        case Event::output:
            return "output";
        case Event::input:
            return "input";
        case Event::resize:
            return "resize";
        case Event::signal:
            return "signal";
        case Event::exit:
            return "exit";
        case Event::error:
            return "error";
    }
    return "error";
}

}  // namespace pelko

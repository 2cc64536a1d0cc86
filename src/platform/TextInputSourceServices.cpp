#include "platform/TextInputSourceServices.hpp"

#include "platform/TextInputSourceIBusBackend.hpp"
#include "platform/TextInputSourceNullBackend.hpp"

namespace pelko {

std::shared_ptr<TextInputSourceServices> TextInputSourceServices::makeDefault() {
    if (auto backend = TextInputSourceIBusBackend::connect()) return backend;
    return std::make_shared<TextInputSourceNullBackend>();
}

}  // namespace pelko

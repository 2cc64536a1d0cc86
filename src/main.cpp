#include <curl/curl.h>

#include "app/PelkoApp.hpp"
#include "platform/Environment.hpp"

int main(int argc, char** argv) {
    (void)pelko::Environment::process();
    curl_global_init(CURL_GLOBAL_DEFAULT);
    pelko::PelkoApp app;
    return app.run(argc, argv);
}

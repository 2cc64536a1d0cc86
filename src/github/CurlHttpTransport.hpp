#pragma once
// CurlHttpTransport: one synchronous HTTP exchange with libcurl, the only way this system talks to
// GitHub.
//
// `send` blocks the calling thread until the whole response has arrived or a limit was hit; it is
// safe from any thread at once (every call has its own handle). Redirects are never followed, so a
// bearer token is only ever sent to the address it was meant for; a 3xx comes back as its status.
// Only http and https are spoken. Failures throw HttpTransportError, whose text never quotes the
// request or the response. Once the end of the process has begun (ProcessEnd), every exchange still
// in flight is cut off at once, whatever the server does, and later ones fail without connecting.
// `perform` gives a transfer set up elsewhere (the update check's feed, which carries no token) the
// same cut-off.
#include <curl/curl.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

namespace pelko {

class CurlHttpTransport {
  public:
    struct Request {
        std::string method = "GET";
        std::string url;
        std::vector<std::pair<std::string, std::string>> headers;
        std::string body;
        // Connecting and every pause in the transfer are limited by `idleTimeout`, the whole
        // exchange by `totalTimeout`.
        std::chrono::seconds idleTimeout{60};
        std::chrono::seconds totalTimeout{120};
    };

    struct Response {
        long status = 0;
        std::string body;
    };

    static constexpr std::size_t maximumBodySize = 32 * 1024 * 1024;

    // Throws HttpTransportError; once the end has begun, `failed` with curl's code for an aborted
    // transfer.
    static Response send(const Request& request);
    // Runs the transfer `handle` was set up for to its end, on the calling thread, under the handle's
    // own limits; CURLE_ABORTED_BY_CALLBACK once the end has begun.
    static CURLcode perform(CURL* handle);
};

}  // namespace pelko

#include "github/CurlHttpTransport.hpp"

#include <curl/curl.h>

#include <memory>
#include <mutex>

#include "github/HttpTransportError.hpp"
#include "platform/ProcessEnd.hpp"

namespace pelko {
namespace {

void initialiseOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct Sink {
    std::string body;
    bool tooLarge = false;
};

size_t appendBody(char* data, size_t size, size_t count, void* context) {
    auto* sink = static_cast<Sink*>(context);
    size_t length = size * count;
    if (sink->body.size() + length > CurlHttpTransport::maximumBodySize) {
        sink->tooLarge = true;
        return 0;
    }
    sink->body.append(data, length);
    return length;
}

HttpTransportError errorFor(CURLcode code) {
    using Code = HttpTransportError::Code;
    switch (code) {
        case CURLE_URL_MALFORMAT:
        case CURLE_UNSUPPORTED_PROTOCOL:
            return {Code::invalidURL, code};
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
        case CURLE_COULDNT_CONNECT:
            return {Code::cannotConnect, code};
        case CURLE_OPERATION_TIMEDOUT:
            return {Code::timedOut, code};
        default:
            return {Code::failed, code};
    }
}

struct EasyDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct MultiDeleter {
    void operator()(CURLM* handle) const { curl_multi_cleanup(handle); }
};
struct ListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

// The transfer in a multi handle of its own, so that the end of the process can wake its wait.
class Exchange {
  public:
    explicit Exchange(CURL* curl) : curl_(curl) {}
    ~Exchange() {
        if (added_) curl_multi_remove_handle(multi_.get(), curl_);
    }
    Exchange(const Exchange&) = delete;
    Exchange& operator=(const Exchange&) = delete;

    // Runs the transfer to its end: a wait lasts at most a second, and ends at once when the end of
    // the process begins.
    CURLcode perform() {
        if (!multi_) return CURLE_OUT_OF_MEMORY;
        ProcessEnd::Watch watch([multi = multi_.get()] { curl_multi_wakeup(multi); });
        if (ProcessEnd::hasBegun()) return CURLE_ABORTED_BY_CALLBACK;
        added_ = curl_multi_add_handle(multi_.get(), curl_) == CURLM_OK;
        if (!added_) return CURLE_FAILED_INIT;
        for (;;) {
            int running = 0;
            if (curl_multi_perform(multi_.get(), &running) != CURLM_OK) return CURLE_FAILED_INIT;
            if (running == 0) break;
            // A wake-up between this check and the wait ends the wait at once.
            if (ProcessEnd::hasBegun()) {
                // The process is ending: a name lookup still under way is left to itself, not waited for.
                curl_easy_setopt(curl_, CURLOPT_QUICK_EXIT, 1L);
                return CURLE_ABORTED_BY_CALLBACK;
            }
            if (curl_multi_poll(multi_.get(), nullptr, 0, 1000, nullptr) != CURLM_OK)
                return CURLE_FAILED_INIT;
        }
        int left = 0;
        while (CURLMsg* message = curl_multi_info_read(multi_.get(), &left)) {
            if (message->msg == CURLMSG_DONE) return message->data.result;
        }
        return CURLE_FAILED_INIT;
    }

  private:
    CURL* curl_;
    std::unique_ptr<CURLM, MultiDeleter> multi_{curl_multi_init()};
    bool added_ = false;
};

}  // namespace

CurlHttpTransport::Response CurlHttpTransport::send(const Request& request) {
    initialiseOnce();
    std::unique_ptr<CURL, EasyDeleter> handle(curl_easy_init());
    if (!handle) throw HttpTransportError(HttpTransportError::Code::failed, CURLE_FAILED_INIT);
    CURL* curl = handle.get();

    std::unique_ptr<curl_slist, ListDeleter> headers;
    auto addHeader = [&](const std::string& line) {
        curl_slist* appended = curl_slist_append(headers.get(), line.c_str());
        if (!appended) throw HttpTransportError(HttpTransportError::Code::failed, CURLE_OUT_OF_MEMORY);
        (void)headers.release();
        headers.reset(appended);
    };
    // GitHub refuses requests without a user agent; "Expect:" stops curl waiting for a 100 reply.
    addHeader("User-Agent: Pelko");
    addHeader("Expect:");
    for (const auto& [name, value] : request.headers) addHeader(name + ": " + value);

    Sink sink;
    curl_easy_setopt(curl, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, static_cast<long>(request.idleTimeout.count()));
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, static_cast<long>(request.idleTimeout.count()));
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, static_cast<long>(request.totalTimeout.count()));
    curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, appendBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
    if (request.method == "POST") {
        curl_easy_setopt(curl, CURLOPT_POST, 1L);
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, request.body.c_str());
    } else if (request.method != "GET") {
        curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, request.method.c_str());
    }

    CURLcode result = perform(curl);
    if (sink.tooLarge) throw HttpTransportError(HttpTransportError::Code::responseTooLarge, result);
    if (result != CURLE_OK) throw errorFor(result);

    Response response;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &response.status);
    response.body = std::move(sink.body);
    return response;
}

CURLcode CurlHttpTransport::perform(CURL* handle) {
    return Exchange(handle).perform();
}

}  // namespace pelko

#include "app/AppcastUpdater.hpp"

#include <curl/curl.h>
#include <glib.h>

#include "github/CurlHttpTransport.hpp"
#include "platform/MainQueue.hpp"
#include "platform/SerialQueue.hpp"

namespace pelko {
namespace {

constexpr size_t maxFeedBytes = size_t{8} * 1024 * 1024;

// White space and line breaks in Unicode's sense: a tab, the space separators, and the line breaks
// (line feed to carriage return, next line, line and paragraph separators).
bool isBlank(gunichar c) {
    return c == '\t' || (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029 ||
           g_unichar_type(c) == G_UNICODE_SPACE_SEPARATOR;
}

std::string trimmed(const std::string& text) {
    if (!g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) return text;
    const char* begin = text.data();
    const char* end = begin + text.size();
    while (begin < end && isBlank(g_utf8_get_char(begin))) begin = g_utf8_next_char(begin);
    while (end > begin) {
        const char* last = g_utf8_find_prev_char(begin, end);
        if (!last || !isBlank(g_utf8_get_char(last))) break;
        end = last;
    }
    return std::string(begin, end);
}

size_t collect(char* data, size_t size, size_t count, void* user) {
    auto* body = static_cast<std::string*>(user);
    size_t bytes = size * count;
    if (body->size() + bytes > maxFeedBytes) return 0;
    body->append(data, bytes);
    return bytes;
}

}  // namespace

bool AppcastFeedResolver::isAbsoluteUri(const std::string& text) {
    return !text.empty() && g_uri_is_valid(text.c_str(), G_URI_FLAGS_NONE, nullptr);
}

std::optional<std::string> AppcastFeedResolver::resolve(const PropertyList& info,
                                                        const Environment& environment) {
    if (auto value = environment.get("APPCAST_URL")) {
        std::string address = trimmed(*value);
        if (isAbsoluteUri(address)) return address;
    }
    if (auto address = info.string("SUFeedURL"); address && isAbsoluteUri(*address)) return address;
    return std::nullopt;
}

std::shared_ptr<AppcastUpdater> AppcastUpdater::create(const PropertyList& info,
                                                       const Environment& environment,
                                                       std::shared_ptr<UpdatePresenting> presenter) {
    std::optional<std::string> feed;
    if (info.has("SUPublicEDKey")) feed = AppcastFeedResolver::resolve(info, environment);
    return std::make_shared<AppcastUpdater>(
        Passkey{}, std::move(feed), info.string("CFBundleVersion").value_or("0"), std::move(presenter));
}

AppcastUpdater::AppcastUpdater(Passkey, std::optional<std::string> feedURL, std::string currentVersion,
                               std::shared_ptr<UpdatePresenting> presenter)
    : feedURL_(std::move(feedURL)),
      currentVersion_(std::move(currentVersion)),
      presenter_(std::move(presenter)) {
    if (feedURL_) queue_ = std::make_shared<SerialQueue>("app.pelko.updater");
}

AppcastUpdater::~AppcastUpdater() = default;

void AppcastUpdater::checkForUpdateInformation() {
    startCycle(CycleKind::updateInformation);
}

void AppcastUpdater::checkForUpdates() {
    startCycle(CycleKind::interactive);
}

void AppcastUpdater::startCycle(CycleKind kind) {
    if (!feedURL_) return;
    ++checksInFlight_;
    std::weak_ptr<AppcastUpdater> weak = weak_from_this();
    queue_->async([weak, kind, url = *feedURL_, version = currentVersion_] {
        Outcome outcome = fetch(url, version);
        MainQueue::shared().async([weak, kind, outcome] {
            if (auto self = weak.lock()) self->finishCycle(kind, outcome);
        });
    });
}

void AppcastUpdater::finishCycle(CycleKind kind, const Outcome& outcome) {
    --checksInFlight_;
    if (kind == CycleKind::interactive) {
        if (presenter_) {
            if (outcome.error)
                presenter_->presentCheckFailed(*outcome.error);
            else if (outcome.newerItem)
                presenter_->presentUpdateAvailable(*outcome.newerItem, currentVersion_);
            else
                presenter_->presentUpToDate(currentVersion_);
        }
        return;
    }
    if (outcome.newerItem) didFindUpdateDuringProbe_ = true;
    const bool showUpdate = !outcome.error && didFindUpdateDuringProbe_;
    didFindUpdateDuringProbe_ = false;
    if (showUpdate) checkForUpdates();
}

AppcastUpdater::Outcome AppcastUpdater::fetch(const std::string& url, const std::string& currentVersion) {
    Outcome outcome;
    CURL* curl = curl_easy_init();
    if (!curl) {
        outcome.error = "The update check could not start.";
        return outcome;
    }
    std::string body;
    char errorText[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 15L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 60L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "pelko-updater");
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
    // Cut off at the end of the process like every other exchange, so the end never waits for the feed.
    CURLcode result = CurlHttpTransport::perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_cleanup(curl);

    if (result != CURLE_OK) {
        outcome.error = errorText[0] ? errorText : curl_easy_strerror(result);
        return outcome;
    }
    if (status < 200 || status >= 300) {
        outcome.error = "The update feed answered with status " + std::to_string(status) + ".";
        return outcome;
    }
    auto newest = AppcastFeed::newestItem(body);
    if (!newest) {
        outcome.error = "The update feed could not be read.";
        return outcome;
    }
    if (AppcastFeed::compareVersions(newest->version, currentVersion) > 0)
        outcome.newerItem = std::move(newest);
    return outcome;
}

}  // namespace pelko

#include "app/WebAuthenticationSessionFactory.hpp"

#include <glib/gstdio.h>
#include <gtk/gtk.h>
#include <sys/stat.h>
#include <webkit/webkit.h>

#include <filesystem>
#include <set>
#include <utility>

#include "platform/MainQueue.hpp"
#include "platform/XdgFolders.hpp"

namespace pelko {
namespace {

class WebAuthenticationSession;

// The one session whose window is open, for the callback-scheme backstop.
WebAuthenticationSession* gOpenSession = nullptr;

class WebAuthenticationSession final : public OAuthSession,
                                       public std::enable_shared_from_this<WebAuthenticationSession> {
  public:
    WebAuthenticationSession(std::string url, std::string callbackScheme,
                             OAuthSessionFactory::Completion completion)
        : url_(std::move(url)),
          callbackScheme_(std::move(callbackScheme)),
          completion_(std::move(completion)) {}
    ~WebAuthenticationSession() override { closeWindow(); }

    void start() override;
    void cancel() override {
        completion_ = nullptr;
        closeWindow();
    }

    bool isCallback(const char* uri) const {
        if (!uri) return false;
        g_autofree char* scheme = g_uri_parse_scheme(uri);
        return scheme && g_ascii_strcasecmp(scheme, callbackScheme_.c_str()) == 0;
    }

    // Completes at most once; the window closes on a later turn, outside WebKit's signal.
    void finish(OAuthSessionOutcome outcome) {
        auto completion = std::exchange(completion_, nullptr);
        if (!completion) return;
        MainQueue::shared().async([self = shared_from_this(), completion, outcome] {
            self->closeWindow();
            completion(outcome);
        });
    }

  private:
    static gboolean onDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision,
                                   WebKitPolicyDecisionType type, gpointer data) {
        if (type != WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION &&
            type != WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION)
            return FALSE;
        auto* self = static_cast<WebAuthenticationSession*>(data);
        WebKitNavigationAction* action = webkit_navigation_policy_decision_get_navigation_action(
            WEBKIT_NAVIGATION_POLICY_DECISION(decision));
        const char* uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
        if (!self->isCallback(uri)) return FALSE;
        webkit_policy_decision_ignore(decision);
        self->finish(OAuthSessionOutcome{std::string(uri), std::nullopt});
        return TRUE;
    }

    static gboolean onLoadFailed(WebKitWebView*, WebKitLoadEvent, char* uri, GError* error, gpointer data) {
        auto* self = static_cast<WebAuthenticationSession*>(data);
        // Ignoring the callback navigation interrupts the load; that is the success path.
        if (self->isCallback(uri) ||
            g_error_matches(error, WEBKIT_POLICY_ERROR,
                            WEBKIT_POLICY_ERROR_FRAME_LOAD_INTERRUPTED_BY_POLICY_CHANGE) ||
            g_error_matches(error, WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED))
            return FALSE;
        self->finish(
            OAuthSessionOutcome{std::nullopt, OAuthSessionError(OAuthSessionError::Code::loadFailed)});
        return FALSE;
    }

    static gboolean onCloseRequest(GtkWindow*, gpointer data) {
        auto* self = static_cast<WebAuthenticationSession*>(data);
        self->finish(
            OAuthSessionOutcome{std::nullopt, OAuthSessionError(OAuthSessionError::Code::cancelled)});
        return TRUE;  // the window is closed by finish, after the completion is queued
    }

    void closeWindow() {
        if (gOpenSession == this) gOpenSession = nullptr;
        if (!window_) return;
        GtkWidget* window = std::exchange(window_, nullptr);
        g_signal_handlers_disconnect_by_data(window, this);
        if (webView_) g_signal_handlers_disconnect_by_data(webView_, this);
        webView_ = nullptr;
        gtk_window_destroy(GTK_WINDOW(window));
    }

    std::string url_;
    std::string callbackScheme_;
    OAuthSessionFactory::Completion completion_;
    GtkWidget* window_ = nullptr;
    GtkWidget* webView_ = nullptr;
};

// A folder only its owner may enter: the data folder's cookies keep a GitHub session, and the cache
// keeps what the signed-in pages loaded.
void makePrivateFolder(const std::filesystem::path& folder) {
    g_mkdir_with_parents(folder.c_str(), 0700);
    struct stat info {};
    if (::lstat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && (info.st_mode & 077) != 0)
        g_chmod(folder.c_str(), 0700);
}

// The sign-in view's own context and persistent network session, made once. The network session keeps
// cookies in memory unless told otherwise, so its cookie manager stores them in the session's data
// folder, where a later start finds them.
struct AuthenticationWebContext {
    WebKitWebContext* context = nullptr;
    WebKitNetworkSession* session = nullptr;
    std::set<std::string> schemes;

    static AuthenticationWebContext& shared() {
        static AuthenticationWebContext instance = [] {
            AuthenticationWebContext made;
            made.context = webkit_web_context_new();
            const auto& folders = XdgFolders::process();
            auto data = folders.appData() / "web-authentication";
            auto cache = folders.appCache() / "web-authentication";
            makePrivateFolder(data);
            makePrivateFolder(cache);
            made.session = webkit_network_session_new(data.c_str(), cache.c_str());
            webkit_cookie_manager_set_persistent_storage(
                webkit_network_session_get_cookie_manager(made.session), (data / "cookies.sqlite").c_str(),
                WEBKIT_COOKIE_PERSISTENT_STORAGE_SQLITE);
            return made;
        }();
        return instance;
    }

    static void answerCallbackScheme(WebKitURISchemeRequest* request, gpointer) {
        const char* uri = webkit_uri_scheme_request_get_uri(request);
        if (gOpenSession && gOpenSession->isCallback(uri))
            gOpenSession->finish(OAuthSessionOutcome{std::string(uri), std::nullopt});
        GError* error = g_error_new_literal(G_IO_ERROR, G_IO_ERROR_CANCELLED, "callback");
        webkit_uri_scheme_request_finish_error(request, error);
        g_error_free(error);
    }

    void registerScheme(const std::string& scheme) {
        if (!schemes.insert(scheme).second) return;
        webkit_web_context_register_uri_scheme(context, scheme.c_str(), answerCallbackScheme, nullptr,
                                               nullptr);
    }
};

void WebAuthenticationSession::start() {
    if (window_) return;
    auto& shared = AuthenticationWebContext::shared();
    shared.registerScheme(callbackScheme_);

    window_ = gtk_window_new();
    gtk_window_set_title(GTK_WINDOW(window_), "GitHub");
    gtk_window_set_default_size(GTK_WINDOW(window_), 520, 720);
    gtk_window_set_modal(GTK_WINDOW(window_), TRUE);
    GListModel* toplevels = gtk_window_get_toplevels();
    for (guint i = 0; i < g_list_model_get_n_items(toplevels); ++i) {
        auto* candidate = static_cast<GtkWindow*>(g_list_model_get_item(toplevels, i));
        bool isOwn = GTK_WIDGET(candidate) == window_;
        if (!isOwn) gtk_window_set_transient_for(GTK_WINDOW(window_), candidate);
        g_object_unref(candidate);
        if (!isOwn) break;
    }
    g_signal_connect(window_, "close-request", G_CALLBACK(onCloseRequest), this);

    webView_ = GTK_WIDGET(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", shared.context, "network-session",
                                       shared.session, nullptr));
    g_signal_connect(webView_, "decide-policy", G_CALLBACK(onDecidePolicy), this);
    g_signal_connect(webView_, "load-failed", G_CALLBACK(onLoadFailed), this);
    gtk_window_set_child(GTK_WINDOW(window_), webView_);

    if (gOpenSession && gOpenSession != this) gOpenSession->cancel();
    gOpenSession = this;
    webkit_web_view_load_uri(WEBKIT_WEB_VIEW(webView_), url_.c_str());
    gtk_window_present(GTK_WINDOW(window_));
}

}  // namespace

std::shared_ptr<OAuthSession> WebAuthenticationSessionFactory::makeSession(const std::string& url,
                                                                           const std::string& callbackScheme,
                                                                           Completion completion) {
    return std::make_shared<WebAuthenticationSession>(url, callbackScheme, std::move(completion));
}

}  // namespace pelko

#include "platform/gui/WorkspaceWindow.hpp"

#include <gtk/gtk.h>
#include <libsoup/soup.h>
#include <webkit/webkit.h>

#include <algorithm>

#include "platform/MainQueue.hpp"

namespace pelko {

struct WorkspaceWindow::Impl {
    enum class MonitorKind { keyDown, swipe, pinch };
    struct Monitor {
        Token token;
        MonitorKind kind;
        std::function<bool(const KeyPress&)> key;
        std::function<void(const SwipeEvent&)> swipe;
        std::function<void(const PinchEvent&)> pinch;
    };

    Callbacks callbacks;
    GtkWidget* window = nullptr;
    GtkWidget* webView = nullptr;
    WebKitUserContentManager* contentManager = nullptr;
    bool navigationFailed = false;
    std::vector<Monitor> monitors;
    Token nextToken = 1;
    double lastPinchScale = 1.0;
    double swipeDeltaX = 0;

    static Impl* schemeTarget;

    template <class Event, class Pick>
    void forEachMonitor(MonitorKind kind, const Event& event, Pick pick) {
        auto snapshot = monitors;  // a monitor may add or remove monitors
        for (auto& monitor : snapshot) {
            if (monitor.kind != kind) continue;
            bool stillInstalled = std::any_of(monitors.begin(), monitors.end(),
                                              [&](const Monitor& m) { return m.token == monitor.token; });
            if (stillInstalled && pick(monitor, event)) return;
        }
    }

    bool keyPressed(guint keyval, guint keycode, GdkModifierType state) {
        KeyPress press;
        press.keyval = keyval;
        press.keycode = keycode;
        press.modifierState = static_cast<std::uint32_t>(state);
        press.shift = (state & GDK_SHIFT_MASK) != 0;
        press.control = (state & GDK_CONTROL_MASK) != 0;
        press.alt = (state & GDK_ALT_MASK) != 0;
        press.super = (state & (GDK_SUPER_MASK | GDK_META_MASK)) != 0;
        bool swallowed = false;
        forEachMonitor(MonitorKind::keyDown, press, [&](const Monitor& monitor, const KeyPress& p) {
            swallowed = monitor.key(p);
            return swallowed;
        });
        if (swallowed) return true;
        return callbacks.keyEquivalent && callbacks.keyEquivalent(press);
    }

    void touchpadEvent(GdkEvent* event) {
        const auto type = gdk_event_get_event_type(event);
        const auto phase = gdk_touchpad_event_get_gesture_phase(event);
        if (type == GDK_TOUCHPAD_PINCH) {
            PinchEvent pinch;
            const double scale = gdk_touchpad_event_get_pinch_scale(event);
            switch (phase) {
                case GDK_TOUCHPAD_GESTURE_PHASE_BEGIN:
                    pinch.phase = PinchEvent::Phase::began;
                    lastPinchScale = scale;
                    break;
                case GDK_TOUCHPAD_GESTURE_PHASE_UPDATE:
                    pinch.phase = PinchEvent::Phase::changed;
                    break;
                case GDK_TOUCHPAD_GESTURE_PHASE_END:
                    pinch.phase = PinchEvent::Phase::ended;
                    break;
                case GDK_TOUCHPAD_GESTURE_PHASE_CANCEL:
                    pinch.phase = PinchEvent::Phase::cancelled;
                    break;
            }
            if (pinch.phase == PinchEvent::Phase::changed || pinch.phase == PinchEvent::Phase::ended) {
                pinch.magnificationDelta = scale - lastPinchScale;
                lastPinchScale = scale;
            }
            double x = 0, y = 0;
            gdk_event_get_position(event, &x, &y);
            locate(x, y, pinch);
            forEachMonitor(MonitorKind::pinch, pinch, [](const Monitor& monitor, const PinchEvent& e) {
                monitor.pinch(e);
                return false;
            });
        } else if (type == GDK_TOUCHPAD_SWIPE && gdk_touchpad_event_get_n_fingers(event) >= 3) {
            if (phase == GDK_TOUCHPAD_GESTURE_PHASE_BEGIN) swipeDeltaX = 0;
            double dx = 0, dy = 0;
            gdk_touchpad_event_get_deltas(event, &dx, &dy);
            swipeDeltaX += dx;
            if (phase == GDK_TOUCHPAD_GESTURE_PHASE_END) {
                // Fingers moving left page forward, as on other desktops.
                SwipeEvent swipe{-swipeDeltaX};
                swipeDeltaX = 0;
                forEachMonitor(MonitorKind::swipe, swipe, [](const Monitor& monitor, const SwipeEvent& e) {
                    monitor.swipe(e);
                    return false;
                });
            } else if (phase == GDK_TOUCHPAD_GESTURE_PHASE_CANCEL) {
                swipeDeltaX = 0;
            }
        }
    }

    // Event positions are relative to the window's surface; the gesture bridge wants view coordinates.
    void locate(double surfaceX, double surfaceY, PinchEvent& pinch) const {
        pinch.viewWidth = gtk_widget_get_width(webView);
        pinch.viewHeight = gtk_widget_get_height(webView);
        pinch.scaleFactor = gtk_widget_get_scale_factor(webView);
        GtkNative* native = gtk_widget_get_native(webView);
        double nx = 0, ny = 0;
        if (native) gtk_native_get_surface_transform(native, &nx, &ny);
        double x = surfaceX - nx, y = surfaceY - ny;
        if (native && !gtk_widget_translate_coordinates(GTK_WIDGET(native), webView, x, y, &x, &y)) {
            x = -1;
            y = -1;
        }
        pinch.x = x;
        pinch.y = y;
    }
};

WorkspaceWindow::Impl* WorkspaceWindow::Impl::schemeTarget = nullptr;

namespace {

using Impl = WorkspaceWindow::Impl;

void answerSchemeRequest(WebKitURISchemeRequest* request, gpointer) {
    Impl* impl = Impl::schemeTarget;
    const char* uri = webkit_uri_scheme_request_get_uri(request);
    SchemeResponse answer;
    if (impl && impl->callbacks.schemeRequest) {
        answer = impl->callbacks.schemeRequest(uri ? uri : "");
    } else {
        answer.kind = SchemeResponse::Kind::failed;
        answer.errorMessage = "No handler";
    }
    if (answer.kind == SchemeResponse::Kind::failed) {
        GError* error = g_error_new_literal(G_IO_ERROR, G_IO_ERROR_FAILED, answer.errorMessage.c_str());
        webkit_uri_scheme_request_finish_error(request, error);
        g_error_free(error);
        return;
    }
    GBytes* bytes = g_bytes_new(answer.body.data(), answer.body.size());
    GInputStream* stream = g_memory_input_stream_new_from_bytes(bytes);
    WebKitURISchemeResponse* response =
        webkit_uri_scheme_response_new(stream, static_cast<gint64>(answer.body.size()));
    if (answer.statusCode != 200) {
        webkit_uri_scheme_response_set_status(response, static_cast<guint>(answer.statusCode),
                                              answer.statusCode == 404 ? "Not Found" : nullptr);
    }
    std::string contentType = answer.mimeType;
    if (answer.textEncoding) contentType += "; charset=" + *answer.textEncoding;
    webkit_uri_scheme_response_set_content_type(response, contentType.c_str());
    if (!answer.headers.empty()) {
        SoupMessageHeaders* headers = soup_message_headers_new(SOUP_MESSAGE_HEADERS_RESPONSE);
        for (const auto& [name, value] : answer.headers) {
            soup_message_headers_append(headers, name.c_str(), value.c_str());
        }
        webkit_uri_scheme_response_set_http_headers(response, headers);
    }
    webkit_uri_scheme_request_finish_with_response(request, response);
    g_object_unref(response);
    g_object_unref(stream);
    g_bytes_unref(bytes);
}

void registerAppScheme() {
    static bool registered = false;
    if (registered) return;
    registered = true;
    WebKitWebContext* context = webkit_web_context_get_default();
    webkit_web_context_register_uri_scheme(context, "app", answerSchemeRequest, nullptr, nullptr);
    WebKitSecurityManager* security = webkit_web_context_get_security_manager(context);
    webkit_security_manager_register_uri_scheme_as_secure(security, "app");
    webkit_security_manager_register_uri_scheme_as_cors_enabled(security, "app");
}

void onScriptMessage(WebKitUserContentManager*, JSCValue* value, gpointer data) {
    auto* impl = static_cast<Impl*>(data);
    if (!impl->callbacks.scriptMessage) return;
    char* json = value ? jsc_value_to_json(value, 0) : nullptr;
    std::string text = json ? json : "null";
    g_free(json);
    impl->callbacks.scriptMessage(text);
}

void onLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer data) {
    auto* impl = static_cast<Impl*>(data);
    if (event == WEBKIT_LOAD_STARTED) {
        impl->navigationFailed = false;
        if (impl->callbacks.navigationStarted) impl->callbacks.navigationStarted();
    } else if (event == WEBKIT_LOAD_FINISHED) {
        // WebKit finishes a failed load too; the page is not there, so scripts stay held.
        if (!impl->navigationFailed && impl->callbacks.navigationFinished)
            impl->callbacks.navigationFinished();
    }
}

gboolean onLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar* uri, GError* error, gpointer data) {
    auto* impl = static_cast<Impl*>(data);
    impl->navigationFailed = true;
    if (impl->callbacks.navigationFailed)
        impl->callbacks.navigationFailed(uri ? uri : "", error && error->message ? error->message : "");
    // Handled: no error page is loaded in its place (it would look like a finished page load).
    return TRUE;
}

void onWebProcessTerminated(WebKitWebView*, WebKitWebProcessTerminationReason reason, gpointer data) {
    auto* impl = static_cast<Impl*>(data);
    if (reason == WEBKIT_WEB_PROCESS_TERMINATED_BY_API) return;
    if (impl->callbacks.webProcessCrashed) impl->callbacks.webProcessCrashed();
}

gboolean onKeyPressed(GtkEventControllerKey*, guint keyval, guint keycode, GdkModifierType state,
                      gpointer data) {
    return static_cast<Impl*>(data)->keyPressed(keyval, keycode, state) ? TRUE : FALSE;
}

gboolean onLegacyEvent(GtkEventControllerLegacy*, GdkEvent* event, gpointer data) {
    const auto type = gdk_event_get_event_type(event);
    if (type == GDK_TOUCHPAD_PINCH || type == GDK_TOUCHPAD_SWIPE)
        static_cast<Impl*>(data)->touchpadEvent(event);
    return FALSE;
}

gboolean onDrop(GtkDropTarget*, const GValue* value, double, double, gpointer data) {
    auto* impl = static_cast<Impl*>(data);
    if (!G_VALUE_HOLDS(value, GDK_TYPE_FILE_LIST)) return FALSE;
    auto* list = static_cast<GdkFileList*>(g_value_get_boxed(value));
    std::vector<std::string> paths;
    GSList* files = list ? gdk_file_list_get_files(list) : nullptr;
    for (GSList* item = files; item; item = item->next) {
        char* path = g_file_get_path(G_FILE(item->data));
        if (path) paths.emplace_back(path);
        g_free(path);
    }
    g_slist_free(files);
    if (paths.empty()) return FALSE;
    if (impl->callbacks.filesDropped) impl->callbacks.filesDropped(paths);
    return TRUE;
}

void onWindowDestroy(GtkWidget*, gpointer data) {
    auto* impl = static_cast<Impl*>(data);
    impl->window = nullptr;
    impl->webView = nullptr;
    impl->contentManager = nullptr;
}

}  // namespace

std::shared_ptr<WorkspaceWindow> WorkspaceWindow::create(void* application, Callbacks callbacks,
                                                         const Options& options) {
    return std::make_shared<WorkspaceWindow>(Passkey{}, application, std::move(callbacks), options);
}

WorkspaceWindow::WorkspaceWindow(Passkey, void* application, Callbacks callbacks, const Options& options)
    : impl_(std::make_unique<Impl>()) {
    Impl* impl = impl_.get();
    impl->callbacks = std::move(callbacks);
    if (impl->callbacks.schemeRequest) {
        registerAppScheme();
        Impl::schemeTarget = impl;
    }

    if (application) {
        impl->window = gtk_application_window_new(GTK_APPLICATION(application));
        gtk_application_window_set_show_menubar(GTK_APPLICATION_WINDOW(impl->window), TRUE);
    } else {
        impl->window = gtk_window_new();
    }
    gtk_window_set_title(GTK_WINDOW(impl->window), options.title.c_str());
    gtk_window_set_default_size(GTK_WINDOW(impl->window), options.minimumWidth, options.minimumHeight);
    g_signal_connect(impl->window, "destroy", G_CALLBACK(onWindowDestroy), impl);

    impl->webView = webkit_web_view_new();
    WebKitSettings* settings = webkit_web_view_get_settings(WEBKIT_WEB_VIEW(impl->webView));
    webkit_settings_set_enable_developer_extras(settings, TRUE);
    webkit_settings_set_allow_file_access_from_file_urls(settings, TRUE);
    webkit_settings_set_allow_universal_access_from_file_urls(settings, TRUE);
    const GdkRGBA background{5 / 255.0f, 6 / 255.0f, 10 / 255.0f, 1.0f};
    webkit_web_view_set_background_color(WEBKIT_WEB_VIEW(impl->webView), &background);
    gtk_widget_set_size_request(impl->webView, options.minimumWidth, options.minimumHeight);
    gtk_widget_set_hexpand(impl->webView, TRUE);
    gtk_widget_set_vexpand(impl->webView, TRUE);

    impl->contentManager = webkit_web_view_get_user_content_manager(WEBKIT_WEB_VIEW(impl->webView));
    g_signal_connect(impl->contentManager, "script-message-received::pelko", G_CALLBACK(onScriptMessage),
                     impl);
    webkit_user_content_manager_register_script_message_handler(impl->contentManager, "pelko", nullptr);

    g_signal_connect(impl->webView, "load-changed", G_CALLBACK(onLoadChanged), impl);
    g_signal_connect(impl->webView, "load-failed", G_CALLBACK(onLoadFailed), impl);
    g_signal_connect(impl->webView, "web-process-terminated", G_CALLBACK(onWebProcessTerminated), impl);

    GtkEventController* keys = gtk_event_controller_key_new();
    gtk_event_controller_set_propagation_phase(keys, GTK_PHASE_CAPTURE);
    g_signal_connect(keys, "key-pressed", G_CALLBACK(onKeyPressed), impl);
    gtk_widget_add_controller(impl->window, keys);

    GtkEventController* touchpad = gtk_event_controller_legacy_new();
    gtk_event_controller_set_propagation_phase(touchpad, GTK_PHASE_CAPTURE);
    g_signal_connect(touchpad, "event", G_CALLBACK(onLegacyEvent), impl);
    gtk_widget_add_controller(impl->webView, touchpad);

    GtkDropTarget* drop = gtk_drop_target_new(GDK_TYPE_FILE_LIST, GDK_ACTION_COPY);
    g_signal_connect(drop, "drop", G_CALLBACK(onDrop), impl);
    gtk_widget_add_controller(impl->webView, GTK_EVENT_CONTROLLER(drop));

    gtk_window_set_child(GTK_WINDOW(impl->window), impl->webView);
}

WorkspaceWindow::~WorkspaceWindow() {
    Impl* impl = impl_.get();
    if (Impl::schemeTarget == impl) Impl::schemeTarget = nullptr;
    if (impl->contentManager) g_signal_handlers_disconnect_by_data(impl->contentManager, impl);
    if (impl->window) {
        g_signal_handlers_disconnect_by_data(impl->window, impl);
        if (impl->webView) g_signal_handlers_disconnect_by_data(impl->webView, impl);
        gtk_window_destroy(GTK_WINDOW(impl->window));
    }
}

void* WorkspaceWindow::window() const {
    return impl_->window;
}

void WorkspaceWindow::present() {
    if (impl_->window) gtk_window_present(GTK_WINDOW(impl_->window));
}

void WorkspaceWindow::loadHtml(const std::string& html, const std::string& baseUri) {
    if (!impl_->webView) return;
    webkit_web_view_load_html(WEBKIT_WEB_VIEW(impl_->webView), html.c_str(),
                              baseUri.empty() ? nullptr : baseUri.c_str());
}

void WorkspaceWindow::evaluateScript(const std::string& script) {
    if (!impl_->webView) return;
    webkit_web_view_evaluate_javascript(WEBKIT_WEB_VIEW(impl_->webView), script.c_str(),
                                        static_cast<gssize>(script.size()), nullptr, nullptr, nullptr,
                                        nullptr, nullptr);
}

void WorkspaceWindow::evaluateScript(const std::string& script, std::function<void()> onFinished) {
    if (!impl_->webView) {
        onFinished();
        return;
    }
    auto* finished = new std::function<void()>(std::move(onFinished));
    webkit_web_view_evaluate_javascript(
        WEBKIT_WEB_VIEW(impl_->webView), script.c_str(), static_cast<gssize>(script.size()), nullptr, nullptr,
        nullptr,
        [](GObject* view, GAsyncResult* result, gpointer data) {
            std::unique_ptr<std::function<void()>> finished(static_cast<std::function<void()>*>(data));
            GError* error = nullptr;
            if (JSCValue* value =
                    webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(view), result, &error))
                g_object_unref(value);
            if (error) g_error_free(error);
            (*finished)();
        },
        finished);
}

void WorkspaceWindow::focusWebViewSoon() {
    std::weak_ptr<WorkspaceWindow> weak = weak_from_this();
    MainQueue::shared().async([weak] {
        auto self = weak.lock();
        if (!self || !self->impl_->webView) return;
        if (gtk_widget_get_root(self->impl_->webView)) gtk_widget_grab_focus(self->impl_->webView);
    });
}

EventMonitoring::Token WorkspaceWindow::addKeyDownMonitor(std::function<bool(const KeyPress&)> handler) {
    Token token = impl_->nextToken++;
    impl_->monitors.push_back({token, Impl::MonitorKind::keyDown, std::move(handler), {}, {}});
    return token;
}

EventMonitoring::Token WorkspaceWindow::addSwipeMonitor(std::function<void(const SwipeEvent&)> handler) {
    Token token = impl_->nextToken++;
    impl_->monitors.push_back({token, Impl::MonitorKind::swipe, {}, std::move(handler), {}});
    return token;
}

EventMonitoring::Token WorkspaceWindow::addPinchMonitor(std::function<void(const PinchEvent&)> handler) {
    Token token = impl_->nextToken++;
    impl_->monitors.push_back({token, Impl::MonitorKind::pinch, {}, {}, std::move(handler)});
    return token;
}

void WorkspaceWindow::removeMonitor(Token token) {
    auto& monitors = impl_->monitors;
    monitors.erase(
        std::remove_if(monitors.begin(), monitors.end(), [&](const auto& m) { return m.token == token; }),
        monitors.end());
}

}  // namespace pelko

#pragma once
// The top-level windows of the X display as a desktop sees them: which process owns each
// (_NET_WM_PID) and its WM_CLASS. Xlib is loaded at run time (the test needs no X development headers);
// unavailable without an X display.
#include <dlfcn.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace pelko::test {

class XWindows {
  public:
    struct Window {
        unsigned long id = 0;
        // WM_CLASS: the instance name and the class name.
        std::string instance;
        std::string className;
        // Only a managed top-level window has a window type; GDK's hidden helper windows have none.
        bool hasWindowType = false;
    };

    explicit XWindows(const std::string& displayName) {
        x11_ = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
        if (!x11_) return;
        openDisplay_ = reinterpret_cast<OpenDisplay>(dlsym(x11_, "XOpenDisplay"));
        closeDisplay_ = reinterpret_cast<CloseDisplay>(dlsym(x11_, "XCloseDisplay"));
        rootWindow_ = reinterpret_cast<RootWindow>(dlsym(x11_, "XDefaultRootWindow"));
        queryTree_ = reinterpret_cast<QueryTree>(dlsym(x11_, "XQueryTree"));
        internAtom_ = reinterpret_cast<InternAtom>(dlsym(x11_, "XInternAtom"));
        getProperty_ = reinterpret_cast<GetProperty>(dlsym(x11_, "XGetWindowProperty"));
        free_ = reinterpret_cast<Free>(dlsym(x11_, "XFree"));
        auto setErrorHandler = reinterpret_cast<SetErrorHandler>(dlsym(x11_, "XSetErrorHandler"));
        if (!openDisplay_ || !closeDisplay_ || !rootWindow_ || !queryTree_ || !internAtom_ || !getProperty_ ||
            !free_ || !setErrorHandler)
            return;
        // Other programs' windows come and go between listing and reading them; Xlib's default handler
        // would end the test for such a window. A failed read counts as a window without the property.
        setErrorHandler([](void*, void*) { return 0; });
        display_ = openDisplay_(displayName.c_str());
    }
    ~XWindows() {
        if (display_) closeDisplay_(display_);
        if (x11_) dlclose(x11_);
    }
    XWindows(const XWindows&) = delete;
    XWindows& operator=(const XWindows&) = delete;

    bool available() const { return display_ != nullptr; }

    // The children of the root window that belong to `pid`.
    std::vector<Window> ofProcess(pid_t pid) {
        std::vector<Window> found;
        unsigned long root = 0, parent = 0;
        unsigned long* children = nullptr;
        unsigned count = 0;
        if (!queryTree_(display_, rootWindow_(display_), &root, &parent, &children, &count)) return found;
        const unsigned long pidAtom = internAtom_(display_, "_NET_WM_PID", 0);
        const unsigned long classAtom = internAtom_(display_, "WM_CLASS", 0);
        const unsigned long typeAtom = internAtom_(display_, "_NET_WM_WINDOW_TYPE", 0);
        for (unsigned i = 0; i < count; ++i) {
            const std::string owner = property(children[i], pidAtom);
            // A CARDINAL of format 32 comes back as a C long.
            if (owner.size() < sizeof(long) || *reinterpret_cast<const long*>(owner.data()) != pid) continue;
            Window window;
            window.id = children[i];
            const std::string wmClass = property(children[i], classAtom);
            const auto end = wmClass.find('\0');
            window.instance = wmClass.substr(0, end);
            if (end != std::string::npos) window.className = wmClass.substr(end + 1);
            while (!window.className.empty() && window.className.back() == '\0') window.className.pop_back();
            window.hasWindowType = !property(children[i], typeAtom).empty();
            found.push_back(window);
        }
        if (children) free_(children);
        return found;
    }

  private:
    using OpenDisplay = void* (*)(const char*);
    using CloseDisplay = int (*)(void*);
    using RootWindow = unsigned long (*)(void*);
    using QueryTree = int (*)(void*, unsigned long, unsigned long*, unsigned long*, unsigned long**,
                              unsigned*);
    using InternAtom = unsigned long (*)(void*, const char*, int);
    using GetProperty = int (*)(void*, unsigned long, unsigned long, long, long, int, unsigned long,
                                unsigned long*, int*, unsigned long*, unsigned long*, unsigned char**);
    using Free = int (*)(void*);
    using ErrorHandler = int (*)(void*, void*);
    using SetErrorHandler = ErrorHandler (*)(ErrorHandler);

    // The raw bytes of a property (at most 4 KiB), empty when the window has none.
    std::string property(unsigned long window, unsigned long atom) {
        unsigned long type = 0, items = 0, after = 0;
        int format = 0;
        unsigned char* data = nullptr;
        constexpr unsigned long anyType = 0;
        if (getProperty_(display_, window, atom, 0, 1024, 0, anyType, &type, &format, &items, &after,
                         &data) != 0 ||
            !data) {
            return {};
        }
        const std::size_t unit = format == 32 ? sizeof(long) : static_cast<std::size_t>(format / 8);
        std::string bytes(reinterpret_cast<const char*>(data), items * unit);
        free_(data);
        return bytes;
    }

    void* x11_ = nullptr;
    void* display_ = nullptr;
    OpenDisplay openDisplay_ = nullptr;
    CloseDisplay closeDisplay_ = nullptr;
    RootWindow rootWindow_ = nullptr;
    QueryTree queryTree_ = nullptr;
    InternAtom internAtom_ = nullptr;
    GetProperty getProperty_ = nullptr;
    Free free_ = nullptr;
};

}  // namespace pelko::test

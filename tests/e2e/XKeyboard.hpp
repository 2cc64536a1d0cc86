#pragma once
// Key presses typed into the X display the way a user would, through the XTEST extension, loaded at
// run time (the test needs no X development headers). Unavailable without an X display or libXtst.
#include <dlfcn.h>

#include <string>
#include <vector>

namespace pelko::test {

class XKeyboard {
  public:
    explicit XKeyboard(const std::string& displayName) {
        x11_ = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
        xtst_ = dlopen("libXtst.so.6", RTLD_NOW | RTLD_LOCAL);
        if (!x11_ || !xtst_) return;
        openDisplay_ = reinterpret_cast<OpenDisplay>(dlsym(x11_, "XOpenDisplay"));
        closeDisplay_ = reinterpret_cast<CloseDisplay>(dlsym(x11_, "XCloseDisplay"));
        stringToKeysym_ = reinterpret_cast<StringToKeysym>(dlsym(x11_, "XStringToKeysym"));
        keysymToKeycode_ = reinterpret_cast<KeysymToKeycode>(dlsym(x11_, "XKeysymToKeycode"));
        flush_ = reinterpret_cast<Flush>(dlsym(x11_, "XFlush"));
        fakeKey_ = reinterpret_cast<FakeKey>(dlsym(xtst_, "XTestFakeKeyEvent"));
        if (openDisplay_ && closeDisplay_ && stringToKeysym_ && keysymToKeycode_ && flush_ && fakeKey_) {
            display_ = openDisplay_(displayName.c_str());
        }
    }
    ~XKeyboard() {
        if (display_) closeDisplay_(display_);
        if (xtst_) dlclose(xtst_);
        if (x11_) dlclose(x11_);
    }
    XKeyboard(const XKeyboard&) = delete;
    XKeyboard& operator=(const XKeyboard&) = delete;

    bool available() const { return display_ != nullptr; }

    // Presses the keys in order and releases them in reverse, e.g. {"Control_L", "equal"}.
    void press(const std::vector<std::string>& keysyms) {
        std::vector<unsigned> codes;
        for (const auto& name : keysyms)
            codes.push_back(keysymToKeycode_(display_, stringToKeysym_(name.c_str())));
        for (unsigned code : codes) fakeKey_(display_, code, 1, 0);
        for (auto it = codes.rbegin(); it != codes.rend(); ++it) fakeKey_(display_, *it, 0, 0);
        flush_(display_);
    }

  private:
    using OpenDisplay = void* (*)(const char*);
    using CloseDisplay = int (*)(void*);
    using StringToKeysym = unsigned long (*)(const char*);
    using KeysymToKeycode = unsigned char (*)(void*, unsigned long);
    using Flush = int (*)(void*);
    using FakeKey = int (*)(void*, unsigned, int, unsigned long);

    void* x11_ = nullptr;
    void* xtst_ = nullptr;
    void* display_ = nullptr;
    OpenDisplay openDisplay_ = nullptr;
    CloseDisplay closeDisplay_ = nullptr;
    StringToKeysym stringToKeysym_ = nullptr;
    KeysymToKeycode keysymToKeycode_ = nullptr;
    Flush flush_ = nullptr;
    FakeKey fakeKey_ = nullptr;
};

}  // namespace pelko::test

#include "platform/gui/SoftwareRendering.hpp"

#include <epoxy/gl.h>
#include <fmt/format.h>
#include <gtk/gtk.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>

#include "platform/SystemLogger.hpp"

namespace pelko {

namespace {

// The display's OpenGL renderer name, or "" when it has no OpenGL.
std::string glRendererName(GdkDisplay* display) {
    GError* error = nullptr;
    GdkGLContext* context = gdk_display_create_gl_context(display, &error);
    std::string name;
    if (context && gdk_gl_context_realize(context, &error)) {
        gdk_gl_context_make_current(context);
        if (const auto* text = reinterpret_cast<const char*>(glGetString(GL_RENDERER))) name = text;
        gdk_gl_context_clear_current();
    }
    g_clear_error(&error);
    if (context) g_object_unref(context);
    return name;
}

bool isSoftwareRasteriser(std::string_view renderer) {
    for (std::string_view mark : {"llvmpipe", "softpipe", "swrast", "Software Rasterizer"}) {
        if (renderer.find(mark) != std::string_view::npos) return true;
    }
    return false;
}

std::string microseconds(std::chrono::nanoseconds time) {
    return fmt::format("{:.1f} µs", static_cast<double>(time.count()) / 1000);
}

}  // namespace

std::optional<std::chrono::nanoseconds> freshPageFault() {
    constexpr int runs = 8;
    constexpr std::size_t pages = 64;
    const auto pageSize = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    std::optional<std::chrono::nanoseconds> best;
    for (int run = 0; run < runs; ++run) {
        void* memory =
            ::mmap(nullptr, pages * pageSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (memory == MAP_FAILED) break;
        auto* bytes = static_cast<volatile char*>(memory);
        const auto started = std::chrono::steady_clock::now();
        for (std::size_t page = 0; page < pages; ++page) bytes[page * pageSize] = 1;
        const auto took = std::chrono::steady_clock::now() - started;
        ::munmap(memory, pages * pageSize);
        const auto perPage =
            std::chrono::duration_cast<std::chrono::nanoseconds>(took) / static_cast<int>(pages);
        best = best ? std::min(*best, perPage) : perPage;
    }
    return best;
}

RendererChoice chooseRenderer(std::string_view glRenderer,
                              const std::function<std::optional<std::chrono::nanoseconds>()>& pageFault) {
    if (glRenderer.empty()) return {false, "the display has no OpenGL"};
    const std::string gl(glRenderer);
    if (!isSoftwareRasteriser(glRenderer)) return {false, "OpenGL renders in hardware (" + gl + ")"};
    const auto measured = pageFault();
    if (!measured) {
        return {false, "OpenGL renders in software (" + gl +
                           ") but how fast fresh memory faults in could not be measured (no memory could be "
                           "mapped); GSK_RENDERER=cairo picks cairo"};
    }
    const auto cost = *measured;
    if (cost >= slowPageFault) {
        return {false, "OpenGL renders in software (" + gl + ") but fresh memory faults in slowly (" +
                           microseconds(cost) + " a page, " + microseconds(slowPageFault) +
                           " or more), which makes cairo's new surfaces every frame slow; "
                           "GSK_RENDERER=cairo picks cairo"};
    }
    return {true, "OpenGL renders in software (" + gl + ") and fresh memory faults in quickly (" +
                      microseconds(cost) + " a page, under " + microseconds(slowPageFault) +
                      "); GSK_RENDERER=gl picks OpenGL"};
}

RendererChoice chooseWindowRenderer() {
    SystemLogger logger("app.pelko", "window");
    if (const char* chosen = g_getenv("GSK_RENDERER")) {
        RendererChoice choice{false, std::string("GSK_RENDERER is set to \"") + chosen + "\""};
        logger.notice("windows draw with the renderer the user chose: " + choice.reason);
        return choice;
    }
    GdkDisplay* display = gdk_display_get_default();
    if (!display) return {false, "there is no display"};
    RendererChoice choice = chooseRenderer(glRendererName(display), freshPageFault);
    if (choice.cairo) g_setenv("GSK_RENDERER", "cairo", TRUE);
    logger.notice(std::string("windows draw with ") + (choice.cairo ? "cairo" : "GTK's own renderer") + ": " +
                  choice.reason);
    return choice;
}

}  // namespace pelko

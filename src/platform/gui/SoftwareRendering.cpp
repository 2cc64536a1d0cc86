#include "platform/gui/SoftwareRendering.hpp"

#include <epoxy/gl.h>
#include <gtk/gtk.h>

#include <string>
#include <string_view>

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

}  // namespace

bool useCairoRendererWhenGLIsSoftware() {
    if (g_getenv("GSK_RENDERER")) return false;
    GdkDisplay* display = gdk_display_get_default();
    if (!display) return false;
    const std::string renderer = glRendererName(display);
    if (!isSoftwareRasteriser(renderer)) return false;
    g_setenv("GSK_RENDERER", "cairo", TRUE);
    SystemLogger("app.pelko", "window")
        .info("OpenGL renders in software (" + renderer + "); windows draw with cairo");
    return true;
}

}  // namespace pelko

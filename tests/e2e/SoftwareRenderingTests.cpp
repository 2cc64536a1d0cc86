#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <string>

#include "platform/gui/SoftwareRendering.hpp"

namespace pelko {
namespace {

// Xvfb has no graphics hardware: its OpenGL is Mesa's software rasteriser. Each test runs in a process
// of its own (GTK keeps the renderer it picked first).
class SoftwareRenderingTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!g_getenv("DISPLAY")) GTEST_SKIP() << "needs a display (run under xvfb-run)";
    }
};

TEST_F(SoftwareRenderingTest, OnASoftwareDisplayWindowsDrawWithCairo) {
    g_unsetenv("GSK_RENDERER");
    ASSERT_TRUE(gtk_init_check());
    EXPECT_TRUE(useCairoRendererWhenGLIsSoftware());
    EXPECT_STREQ(g_getenv("GSK_RENDERER"), "cairo");

    GtkWidget* window = gtk_window_new();
    gtk_widget_realize(window);
    EXPECT_STREQ(G_OBJECT_TYPE_NAME(gtk_native_get_renderer(GTK_NATIVE(window))), "GskCairoRenderer");
    gtk_window_destroy(GTK_WINDOW(window));
}

TEST_F(SoftwareRenderingTest, ARendererTheUserChoseIsKept) {
    g_setenv("GSK_RENDERER", "gl", TRUE);
    ASSERT_TRUE(gtk_init_check());
    EXPECT_FALSE(useCairoRendererWhenGLIsSoftware());
    EXPECT_STREQ(g_getenv("GSK_RENDERER"), "gl");
}

}  // namespace
}  // namespace pelko

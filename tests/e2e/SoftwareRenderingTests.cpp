#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "e2e/PelkoProcess.hpp"
#include "platform/gui/SoftwareRendering.hpp"

namespace pelko {
namespace {

using namespace std::chrono_literals;

// The decision alone: cairo only for software OpenGL on a machine whose fresh memory faults in
// quickly; the page cost is measured only when it matters.
TEST(RendererChoiceTest, CairoOnlyForSoftwareOpenGLWhereFreshMemoryIsCheap) {
    int measured = 0;
    auto costing = [&](std::chrono::nanoseconds cost) {
        return [&measured, cost] {
            ++measured;
            return cost;
        };
    };
    const std::string llvmpipe = "llvmpipe (LLVM 15.0.6, 256 bits)";
    auto quick = chooseRenderer(llvmpipe, costing(800ns));
    EXPECT_TRUE(quick.cairo);
    EXPECT_NE(quick.reason.find(llvmpipe), std::string::npos) << quick.reason;
    EXPECT_NE(quick.reason.find("0.8 µs"), std::string::npos) << quick.reason;
    EXPECT_NE(quick.reason.find("GSK_RENDERER=gl"), std::string::npos) << quick.reason;

    auto slow = chooseRenderer("softpipe", costing(10us));
    EXPECT_FALSE(slow.cairo);
    EXPECT_NE(slow.reason.find("10.0 µs"), std::string::npos) << slow.reason;
    EXPECT_NE(slow.reason.find("GSK_RENDERER=cairo"), std::string::npos) << slow.reason;
    EXPECT_FALSE(chooseRenderer("llvmpipe", costing(slowPageFault)).cairo);
    EXPECT_EQ(measured, 3);

    EXPECT_FALSE(chooseRenderer("Mesa Intel(R) UHD Graphics 620 (KBL GT2)", costing(0ns)).cairo);
    EXPECT_FALSE(chooseRenderer("", costing(0ns)).cairo);
    EXPECT_EQ(measured, 3);
}

// A page cost that could not be measured is no cost: GTK's choice stays, and the reason says so
// instead of giving a figure. The real measurement fails that way where no memory can be mapped, as in
// a child that may not grow its address space.
TEST(RendererChoiceTest, AFailedPageFaultMeasurementLeavesGTKsChoice) {
    const auto choice = chooseRenderer("llvmpipe (LLVM 15.0.6, 256 bits)",
                                       [] { return std::optional<std::chrono::nanoseconds>(); });
    EXPECT_FALSE(choice.cairo);
    EXPECT_NE(choice.reason.find("could not be measured"), std::string::npos) << choice.reason;
    EXPECT_EQ(choice.reason.find("µs"), std::string::npos) << choice.reason;

    ASSERT_TRUE(freshPageFault().has_value());
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const rlimit none{0, 0};
        ::setrlimit(RLIMIT_AS, &none);
        ::_exit(freshPageFault().has_value() ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "measured without memory to map";
}

// Xvfb has no graphics hardware: its OpenGL is Mesa's software rasteriser. Each test runs in a process
// of its own (GTK keeps the renderer it picked first).
class SoftwareRenderingTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!g_getenv("DISPLAY")) GTEST_SKIP() << "needs a display (run under xvfb-run)";
    }

    // GTK with the display open. A busy Xvfb may turn a connection away for a moment, and GTK does
    // not try again by itself (a later gtk_init_check succeeds without a display), so the display is
    // opened here until it answers.
    static bool initialiseWithDisplay() {
        gtk_init_check();
        return test::waitFor(
            [] {
                if (gdk_display_get_default()) return true;
                if (GdkDisplay* display = gdk_display_open(nullptr))
                    gdk_display_manager_set_default_display(gdk_display_manager_get(), display);
                return gdk_display_get_default() != nullptr;
            },
            60s);
    }
};

TEST_F(SoftwareRenderingTest, OnASoftwareDisplayTheChosenRendererIsTheOneWindowsGet) {
    g_unsetenv("GSK_RENDERER");
    ASSERT_TRUE(initialiseWithDisplay());
    const auto choice = chooseWindowRenderer();
    EXPECT_NE(choice.reason.find("OpenGL renders in software"), std::string::npos) << choice.reason;
    EXPECT_EQ(choice.cairo, g_getenv("GSK_RENDERER") != nullptr);

    GtkWidget* window = gtk_window_new();
    gtk_widget_realize(window);
    const std::string renderer = G_OBJECT_TYPE_NAME(gtk_native_get_renderer(GTK_NATIVE(window)));
    EXPECT_EQ(renderer, choice.cairo ? "GskCairoRenderer" : "GskGLRenderer") << choice.reason;
    gtk_window_destroy(GTK_WINDOW(window));
}

TEST_F(SoftwareRenderingTest, ARendererTheUserChoseIsKept) {
    g_setenv("GSK_RENDERER", "gl", TRUE);
    ASSERT_TRUE(initialiseWithDisplay());
    const auto choice = chooseWindowRenderer();
    EXPECT_FALSE(choice.cairo);
    EXPECT_NE(choice.reason.find("GSK_RENDERER"), std::string::npos) << choice.reason;
    EXPECT_STREQ(g_getenv("GSK_RENDERER"), "gl");
}

}  // namespace
}  // namespace pelko

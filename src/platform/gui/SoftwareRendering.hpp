#pragma once
// The window's renderer, chosen once at start-up from what the machine is like. By default windows
// draw with GTK's own choice (its OpenGL renderer wherever OpenGL works). Where OpenGL renders in
// software (Mesa's llvmpipe, softpipe or swrast: virtual machines, remote desktops, Xvfb), cairo draws
// the same window on the processor with about 130 MB less memory and about as fast or faster, except where
// faulting in fresh memory is slow: cairo takes new window-sized surfaces every frame, and there it
// halves the frame rate, so GTK's OpenGL renderer stays. A fresh page's cost is measured at start-up
// (a few hundred pages, well under a millisecond on most machines), only when OpenGL is software; where
// it cannot be measured, GTK's choice stays too.
//
// Main thread, after GTK is initialised and before the first window is realised (GTK picks a window's
// renderer when it is realised). A renderer the user chose with GSK_RENDERER is kept. One log line
// says which renderer windows draw with and why.
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace pelko {

struct RendererChoice {
    bool cairo = false;  // GSK_RENDERER is set to "cairo"; otherwise GTK's own choice (or the user's)
    std::string reason;
};

// Fresh memory this slow to fault in (a page, the best of several tries) keeps OpenGL: the machines
// where cairo kept up with OpenGL or beat it took under 1 µs a page, the one where it halved the
// frame rate about 10 µs.
inline constexpr std::chrono::nanoseconds slowPageFault{3000};

// The choice for a display whose OpenGL renderer is named `glRenderer` ("" without OpenGL);
// `pageFault` measures the cost of faulting in a fresh page (nothing when it could not) and is called
// only when OpenGL renders in software.
RendererChoice chooseRenderer(std::string_view glRenderer,
                              const std::function<std::optional<std::chrono::nanoseconds>()>& pageFault);

// The time to fault in one fresh page of anonymous memory: the best of a few short runs, so a moment of
// a loaded machine does not count. Nothing when no memory could be mapped to measure it.
std::optional<std::chrono::nanoseconds> freshPageFault();

// Chooses for the default display, sets GSK_RENDERER to "cairo" for this process when cairo is
// chosen, and logs the choice. Child processes the application starts itself get the environment read
// at start-up, without it.
RendererChoice chooseWindowRenderer();

}  // namespace pelko

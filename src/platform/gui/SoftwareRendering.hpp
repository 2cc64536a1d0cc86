#pragma once
// Drawing on machines whose OpenGL is a software rasteriser (Mesa's llvmpipe, softpipe or swrast:
// virtual machines, remote desktops, Xvfb). There GTK's OpenGL renderer costs several processor cores
// and well over 100 MB of memory to rasterise every frame, while cairo draws the same window on the
// processor directly; so there windows draw with cairo.
//
// Main thread, after GTK is initialised and before the first window is realised (GTK picks a window's
// renderer when it is realised). A renderer the user chose with GSK_RENDERER is kept.
namespace pelko {

// Sets GSK_RENDERER to "cairo" for this process when the default display's OpenGL renders in software
// and GSK_RENDERER is not set; true when it did. Child processes the application starts itself get the
// environment read at start-up, without it.
bool useCairoRendererWhenGLIsSoftware();

}  // namespace pelko

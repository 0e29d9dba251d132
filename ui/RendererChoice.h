#pragma once
// Which scene graph draws the window. With a real GPU, OpenGL; where OpenGL
// itself is drawn by the CPU (Mesa's llvmpipe or softpipe: virtual machines,
// remote desktops, Xvfb), Qt Quick's software renderer, which redraws only the
// parts of the window that changed instead of the whole window each frame.
// QT_QUICK_BACKEND, when set, is the user's choice and wins.
//
// Call once, before the first window is created, with a GUI application.

namespace corvane {

// True when the software renderer was chosen.
bool chooseSceneGraphRenderer();

// How the window's pixels reach an X server. Call before the GUI application
// is made (Qt reads it when it connects).
void prepareDisplayConnection();

} // namespace corvane

#include "ui/RendererChoice.h"

#include "platform/system/Logging.h"

#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QQuickWindow>

namespace corvane {

namespace {

QByteArray openGlRenderer() {
    QOpenGLContext context;
    if (!context.create())
        return {};
    QOffscreenSurface surface;
    surface.setFormat(context.format());
    surface.create();
    if (!surface.isValid() || !context.makeCurrent(&surface))
        return {};
    const auto* name = reinterpret_cast<const char*>(context.functions()->glGetString(GL_RENDERER));
    QByteArray renderer = name ? QByteArray(name) : QByteArray();
    context.doneCurrent();
    return renderer;
}

} // namespace

bool chooseSceneGraphRenderer() {
    if (!qEnvironmentVariableIsEmpty("QT_QUICK_BACKEND"))
        return false;
    const QByteArray renderer = openGlRenderer().toLower();
    if (!renderer.contains("llvmpipe") && !renderer.contains("softpipe") && !renderer.contains("software"))
        return false;
    qCInfo(lcEngine, "OpenGL is drawn by the CPU here (%s): the window uses Qt Quick's software renderer",
           renderer.constData());
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    return true;
}

void prepareDisplayConnection() {
    // Drawn by the CPU, the window sends the X server only the parts that
    // changed: the meters, a few small rectangles thirty times a second. Through
    // a shared-memory image each frame first waits for the server to have read
    // the last one (a round trip, about a sixth of the window's cost with eight
    // strips playing under Xvfb); through the connection it does not. Whoever
    // set it decides.
    if (!qEnvironmentVariableIsSet("QT_XCB_NO_MITSHM"))
        qputenv("QT_XCB_NO_MITSHM", "1");
}

} // namespace corvane

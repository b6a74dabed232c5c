// Tovrin: side-by-side video inspection. Until the main window is in place,
// this start-up shows a window that says so.

#include <QApplication>
#include <QLabel>

#include <cstdio>
#include <cstdlib>

namespace {

bool HasDisplay() {
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (platform && *platform) return true;
  const char* x11 = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return (x11 && *x11) || (wayland && *wayland);
}

}  // namespace

int main(int argc, char** argv) {
  if (!HasDisplay()) {
    std::fprintf(stderr,
                 "Tovrin needs a graphical display: neither DISPLAY nor WAYLAND_DISPLAY is set.\n"
                 "Start it from a desktop session (or set QT_QPA_PLATFORM=offscreen for a headless run).\n");
    return 2;
  }
  QApplication app(argc, argv);
  QApplication::setOrganizationName("Halvane");
  QApplication::setApplicationName("Tovrin");
  QLabel label("Tovrin\n\nThe media foundation is built; the main window is on its way.");
  label.setAlignment(Qt::AlignCenter);
  label.resize(480, 240);
  label.setWindowTitle("Tovrin");
  label.show();
  return app.exec();
}

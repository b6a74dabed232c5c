#include "shell/document_template.h"

#include <QPointer>
#include <QWidget>

#include "shell/application.h"

namespace shell {
namespace {
QPointer<QWidget> g_mainWindow;
IApplication* g_application = nullptr;
}  // namespace

IApplication* TheApplication() { return g_application; }
void SetTheApplication(IApplication* app) { g_application = app; }

std::string CDocTemplate::DocStringField(int index) const {
  std::size_t start = 0;
  for (int i = 0; i < index; ++i) {
    const std::size_t nl = m_docString.find('\n', start);
    if (nl == std::string::npos) return {};
    start = nl + 1;
  }
  const std::size_t end = m_docString.find('\n', start);
  return m_docString.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

QWidget* MainWindow() { return g_mainWindow.data(); }
void SetMainWindow(QWidget* window) { g_mainWindow = window; }

}  // namespace shell

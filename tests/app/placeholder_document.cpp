#include "tests/app/placeholder_document.h"

#include <QGridLayout>
#include <QLabel>

#include "platform/message_sink.h"
#include "shell/application.h"
#include "shell/command_ids.h"

namespace {

QWidget* EmptyPane(const QString& text) {
  auto* l = new QLabel(text);
  l->setAlignment(Qt::AlignCenter);
  l->setAutoFillBackground(true);
  QPalette p = l->palette();
  p.setColor(QPalette::Window, QColor(28, 30, 34));
  p.setColor(QPalette::WindowText, QColor(150, 156, 166));
  l->setPalette(p);
  l->setMinimumSize(80, 60);
  return l;
}

}  // namespace

CPlaceholderDocument::CPlaceholderDocument(QWidget* parent) : QWidget(parent) {
  if (shell::IApplication* app = shell::TheApplication()) app->RegisterDocument(this, m_number, m_serial);
  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(2, 2, 2, 2);
  grid->setSpacing(2);
  // The primary pane alone, as a new document window starts.
  grid->addWidget(EmptyPane(QObject::tr("Channel 1, Primary")), 0, 0);
  setWindowTitle(QString::fromStdString(Title()));
}

CPlaceholderDocument::~CPlaceholderDocument() {
  if (shell::IApplication* app = shell::TheApplication()) app->UnregisterDocument(m_number);
}

std::string CPlaceholderDocument::Title() const { return "DM" + std::to_string(m_number) + " ||||"; }

bool CPlaceholderDocument::OnOpenDocument(const std::string& path) {
  platform::ShowMessage("Can not open file\n " + path, {}, platform::MB_OK | platform::MB_ICONEXCLAMATION);
  return false;
}

bool CPlaceholderDocument::OnCmdMsg(UINT id, platform::qt::TCmdCode code, platform::qt::TCmdUI*) {
  // Closing is the only document command here.
  if (id != shell::ID_FILE_CLOSE) return false;
  if (code == platform::qt::TCmdCode::Command) {
    if (QWidget* w = Widget()) w->deleteLater();
  }
  return code != platform::qt::TCmdCode::Update;
}

shell::IChildFrame* CPlaceholderDocument::Create(QWidget* parent) { return new CPlaceholderDocument(parent); }

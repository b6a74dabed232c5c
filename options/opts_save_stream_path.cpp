#include "options/opts_save_stream_path.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <charconv>

#include "media/file_types.h"
#include "media/file_utils.h"
#include "platform/message_sink.h"
#include "shell/folder_dialog.h"

namespace OptsSaveStreamPath {

using namespace ZarnTypes;

namespace {

constexpr const char* kNotAnInteger = "Please enter an integer.";

QString IdName(int id) { return QStringLiteral("IDC_%1").arg(id); }

template <class T>
T* Named(T* widget, int id) {
  widget->setObjectName(IdName(id));
  return widget;
}

// A whole decimal number (an optional sign and digits) that fits 32 bits.
bool ParseInt(const QString& text, std::int32_t& value) {
  const std::string s = text.trimmed().toStdString();
  if (s.empty()) return false;
  const char* first = s.data();
  const char* last = s.data() + s.size();
  if (*first == '+') ++first;
  std::int64_t v = 0;
  const auto [end, ec] = std::from_chars(first, last, v);
  if (ec != std::errc() || end != last || v < INT32_MIN || v > INT32_MAX) return false;
  value = static_cast<std::int32_t>(v);
  return true;
}

}  // namespace

std::string ComposeRecordingPath(const TSaveStreamChannel& r) {
  std::string out;
  FileUtils::BuildNumberedFileName(r.folder, r.prefix, r.titleBase, r.extension, out, r.addSuffix != 0,
                                   r.singleFile == 0, r.clipDigits, r.nextClipIndex, r.frameDigits, 0);
  return out;
}

// ---------------------------------------------------------------------------

CDigitEdit::CDigitEdit(QWidget* parent) : QAbstractSpinBox(parent) {
  setButtonSymbols(QAbstractSpinBox::UpDownArrows);
  setCorrectionMode(QAbstractSpinBox::CorrectToPreviousValue);
  lineEdit()->setMaxLength(9);
}

void CDigitEdit::SetText(const QString& text) { lineEdit()->setText(text); }

QValidator::State CDigitEdit::validate(QString& input, int&) const {
  for (QChar c : input)
    if (!c.isDigit()) return QValidator::Invalid;
  return input.isEmpty() ? QValidator::Intermediate : QValidator::Acceptable;
}

void CDigitEdit::stepBy(int steps) {
  bool ok = false;
  const int value = text().toInt(&ok);
  SetNumber(std::clamp((ok ? value : kMinDigits) + steps, kMinDigits, kMaxDigits));
}

QAbstractSpinBox::StepEnabled CDigitEdit::stepEnabled() const {
  bool ok = false;
  const int value = text().toInt(&ok);
  if (!ok) return StepUpEnabled | StepDownEnabled;
  StepEnabled e = StepNone;
  if (value < kMaxDigits) e |= StepUpEnabled;
  if (value > kMinDigits) e |= StepDownEnabled;
  return e;
}

// ---------------------------------------------------------------------------

COptsSaveStreamPath::COptsSaveStreamPath(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("\"Save stream\" path"));
  setObjectName(QStringLiteral("IDD_1131"));
  auto* layout = new QVBoxLayout(this);

  auto* head = new QGridLayout;
  m_pChannelText = Named(new QLabel("Channel #", this), 1132);
  head->addWidget(m_pChannelText, 0, 0, 1, 2);
  head->addWidget(Named(new QLabel("File format:", this), 1297), 1, 0, Qt::AlignTop);
  m_pFormatName = Named(new QLabel("File format name", this), 1298);
  head->addWidget(m_pFormatName, 1, 1);
  head->addWidget(Named(new QLabel("Full path", this), 1134), 2, 0, Qt::AlignTop);
  m_pFullPath = Named(new QPlainTextEdit(this), 1123);
  m_pFullPath->setReadOnly(true);
  m_pFullPath->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  m_pFullPath->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  m_pFullPath->setTabChangesFocus(true);
  // Seventy average characters a line, four lines: a path of 200
  // characters is shown whole.
  const QFontMetrics metrics = m_pFullPath->fontMetrics();
  m_pFullPath->setMinimumWidth(metrics.averageCharWidth() * 70 + 2 * m_pFullPath->frameWidth() + 12);
  m_pFullPath->setFixedHeight(metrics.lineSpacing() * 4 + 2 * m_pFullPath->frameWidth() + 12);
  head->addWidget(m_pFullPath, 2, 1);
  m_pBrowseFile = Named(new QPushButton("Browse...", this), 1130);
  head->addWidget(m_pBrowseFile, 2, 2, Qt::AlignTop);
  head->addWidget(Named(new QLabel("Directory", this), 2511), 3, 0);
  m_pFolder = Named(new QLineEdit(this), 2512);
  head->addWidget(m_pFolder, 3, 1);
  m_pBrowseFolder = Named(new QPushButton("Browse...", this), 2513);
  head->addWidget(m_pBrowseFolder, 3, 2);
  head->addWidget(Named(new QLabel("File name extension", this), 1299), 4, 0);
  m_pExtension = Named(new QLineEdit(this), 1294);
  head->addWidget(m_pExtension, 4, 1);
  m_pExtensionLock = Named(new QCheckBox("Read only", this), 2509);
  head->addWidget(m_pExtensionLock, 4, 2);
  head->setColumnStretch(1, 1);
  layout->addLayout(head);

  auto* title = Named(new QGroupBox("File name title", this), 1141);
  auto* titleGrid = new QGridLayout(title);
  titleGrid->addWidget(Named(new QLabel("Prefix", title), 1124), 0, 0);
  m_pPrefix = Named(new QLineEdit(title), 1125);
  titleGrid->addWidget(m_pPrefix, 0, 1);
  titleGrid->addWidget(Named(new QLabel("Title base", title), 1126), 1, 0);
  m_pTitleBase = Named(new QLineEdit(title), 1127);
  titleGrid->addWidget(m_pTitleBase, 1, 1);
  m_pAddSuffix = Named(new QCheckBox("Add suffix to the title base", title), 2514);
  titleGrid->addWidget(m_pAddSuffix, 2, 0, 1, 2);
  titleGrid->setColumnStretch(1, 1);
  layout->addWidget(title);

  auto* suffix = Named(new QGroupBox("Digital suffix - Incremental clip / frame index", this), 1296);
  auto* grid = new QGridLayout(suffix);
  auto* digitsLabel = new QLabel("Minimum number of digits in the index sub-suffix", suffix);
  digitsLabel->setWordWrap(true);
  grid->addWidget(digitsLabel, 0, 1);
  grid->addWidget(new QLabel("Next index", suffix), 0, 2, Qt::AlignBottom);
  grid->addWidget(Named(new QLabel("Clip", suffix), 1140), 1, 0);
  m_pClipDigits = Named(new CDigitEdit(suffix), 1128);
  grid->addWidget(m_pClipDigits, 1, 1);
  m_pNextIndex = Named(new QLineEdit(suffix), 2510);
  grid->addWidget(m_pNextIndex, 1, 2);
  m_pNextIndexLock = Named(new QCheckBox("Read only", suffix), 2507);
  grid->addWidget(m_pNextIndexLock, 1, 3);
  m_pFrameLabel = Named(new QLabel("Frame", suffix), 1146);
  grid->addWidget(m_pFrameLabel, 2, 0);
  m_pFrameDigits = Named(new CDigitEdit(suffix), 1129);
  grid->addWidget(m_pFrameDigits, 2, 1);
  grid->setColumnStretch(1, 1);
  grid->setColumnStretch(2, 1);
  layout->addWidget(suffix);

  auto* buttons = new QHBoxLayout;
  m_pReset = Named(new QPushButton("Reset fields", this), 1333);
  m_pUpdate = Named(new QPushButton("Update path", this), 1334);
  m_pTest = Named(new QPushButton("Test path", this), 1335);
  m_pTest->hide();
  m_pOk = Named(new QPushButton("OK", this), 1);
  m_pOk->setDefault(true);
  m_pCancel = Named(new QPushButton("Cancel", this), 2);
  buttons->addWidget(m_pReset);
  buttons->addWidget(m_pUpdate);
  buttons->addWidget(m_pTest);
  buttons->addStretch(1);
  buttons->addWidget(m_pOk);
  buttons->addWidget(m_pCancel);
  layout->addLayout(buttons);

  connect(m_pOk, &QPushButton::clicked, this, [this] { OnOK(); });
  connect(m_pCancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(m_pReset, &QPushButton::clicked, this, [this] { OnResetFields(); });
  connect(m_pUpdate, &QPushButton::clicked, this, [this] { OnUpdatePath(); });
  connect(m_pAddSuffix, &QCheckBox::clicked, this, [this] { OnUpdatePath(); });
  connect(m_pExtensionLock, &QCheckBox::toggled, this, [this](bool on) { m_pExtension->setEnabled(!on); });
  connect(m_pNextIndexLock, &QCheckBox::toggled, this, [this](bool on) { m_pNextIndex->setEnabled(!on); });
  connect(m_pBrowseFile, &QPushButton::clicked, this, [this] { BrowseFile(); });
  connect(m_pBrowseFolder, &QPushButton::clicked, this, [this] { BrowseFolder(); });
}

COptsSaveStreamPath::~COptsSaveStreamPath() = default;

std::string COptsSaveStreamPath::Compose(const TSaveStreamChannel& record) const {
  return m_Composer ? m_Composer(record) : ComposeRecordingPath(record);
}

int COptsSaveStreamPath::DoModal() {
  if (!OnInitDialog()) return QDialog::Rejected;
  return exec();
}

bool COptsSaveStreamPath::OnInitDialog() {
  if (m_nChannel < 0 || m_nChannel > 3) {
    setResult(QDialog::Rejected);
    return false;
  }
  m_Edit = m_Channels[m_nChannel];
  std::string caption = "Channel: %d";
  caption.replace(caption.find("%d"), 2, std::to_string(m_nChannel + 1));
  m_pChannelText->setText(QString::fromStdString(caption));
  std::string name;
  GetFileFormatName(m_Edit.format, name);
  if (m_Edit.singleFile == 0) name += "\nSingle image in file";
  m_pFormatName->setText(QString::fromStdString(name));
  m_Edit.singlePath = Compose(m_Edit);
  ShowRecord(m_Edit);
  m_pExtensionLock->setChecked(true);
  m_pExtension->setEnabled(false);
  m_pNextIndexLock->setChecked(true);
  m_pNextIndex->setEnabled(false);
  const bool single = m_Edit.singleFile != 0;
  m_pFrameLabel->setVisible(!single);
  m_pFrameDigits->setVisible(!single);
  return true;
}

void COptsSaveStreamPath::ShowRecord(const TSaveStreamChannel& r) {
  m_pFullPath->setPlainText(QString::fromStdString(r.singlePath));
  m_pFolder->setText(QString::fromStdString(r.folder));
  m_pExtension->setText(QString::fromStdString(r.extension));
  m_pPrefix->setText(QString::fromStdString(r.prefix));
  m_pTitleBase->setText(QString::fromStdString(r.titleBase));
  m_pAddSuffix->setChecked(r.addSuffix != 0);
  m_pClipDigits->SetNumber(r.clipDigits);
  m_pFrameDigits->SetNumber(r.frameDigits);
  m_pNextIndex->setText(QString::number(r.nextClipIndex));
}

bool COptsSaveStreamPath::TakeEntries(TSaveStreamChannel& r) {
  std::int32_t clip = 0, frame = 0, next = 0;
  QWidget* bad = nullptr;
  if (!ParseInt(m_pClipDigits->text(), clip))
    bad = m_pClipDigits;
  else if (!ParseInt(m_pFrameDigits->text(), frame))
    bad = m_pFrameDigits;
  else if (!ParseInt(m_pNextIndex->text(), next))
    bad = m_pNextIndex;
  if (bad) {
    platform::ShowMessage(kNotAnInteger, {}, platform::MB_OK | platform::MB_ICONEXCLAMATION);
    bad->setFocus();
    return false;
  }
  r.folder = m_pFolder->text().toStdString();
  r.extension = m_pExtension->text().toStdString();
  r.prefix = m_pPrefix->text().toStdString();
  r.titleBase = m_pTitleBase->text().toStdString();
  r.addSuffix = m_pAddSuffix->isChecked() ? 1 : 0;
  r.clipDigits = clip;
  r.frameDigits = frame;
  r.nextClipIndex = next;
  return true;
}

bool COptsSaveStreamPath::OnUpdatePath() {
  TSaveStreamChannel r = m_Edit;
  if (!TakeEntries(r)) return false;
  // The shown path is that of the values the dialog keeps.
  TSaveStreamChannel kept = r;
  kept.clipDigits = std::clamp(r.clipDigits, kMinDigits, kMaxDigits);
  kept.frameDigits = std::clamp(r.frameDigits, kMinDigits, kMaxDigits);
  kept.nextClipIndex = std::clamp(r.nextClipIndex, 0, kMaxClipIndex);
  m_Edit = r;
  m_Edit.singlePath = Compose(kept);
  m_pFullPath->setPlainText(QString::fromStdString(m_Edit.singlePath));
  return true;
}

bool COptsSaveStreamPath::OnOK() {
  if (m_nChannel < 0 || m_nChannel > 3) return false;
  TSaveStreamChannel r = m_Edit;
  if (!TakeEntries(r)) return false;
  r.clipDigits = std::clamp(r.clipDigits, kMinDigits, kMaxDigits);
  r.frameDigits = std::clamp(r.frameDigits, kMinDigits, kMaxDigits);
  r.nextClipIndex = std::clamp(r.nextClipIndex, 0, kMaxClipIndex);
  r.singlePath = Compose(r);
  TSaveStreamChannel& out = m_Channels[m_nChannel];
  out.singlePath = r.singlePath;
  out.folder = r.folder;
  out.titleBase = r.titleBase;
  out.prefix = r.prefix;
  out.addSuffix = r.addSuffix;
  out.clipDigits = r.clipDigits;
  out.frameDigits = r.frameDigits;
  out.nextClipIndex = r.nextClipIndex;
  out.extension = r.extension;
  m_Edit = r;
  accept();
  return true;
}

void COptsSaveStreamPath::OnResetFields() {
  m_pExtension->setText(QString::fromStdString(GetDefaultExtension(m_Channels[m_nChannel & 3].format)));
  m_pPrefix->setText(QStringLiteral("CLIP"));
  m_pExtensionLock->setChecked(true);
  m_pExtension->setEnabled(false);
  m_pNextIndexLock->setChecked(true);
  m_pNextIndex->setEnabled(false);
}

void COptsSaveStreamPath::TakeSingleFile(const std::string& path) {
  const QFileInfo info(QString::fromStdString(path));
  m_pFullPath->setPlainText(QString::fromStdString(path));
  m_pFolder->setText(info.absolutePath());
  m_pTitleBase->setText(info.completeBaseName());
  OnUpdatePath();
}

void COptsSaveStreamPath::TakeFolder(const std::string& folder) {
  m_pFolder->setText(QString::fromStdString(folder));
  OnUpdatePath();
}

void COptsSaveStreamPath::BrowseFile() {
  QFileDialog dialog(this, QStringLiteral("Single output file to save images"));
  dialog.setOption(QFileDialog::DontUseNativeDialog, true);
  dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
  dialog.setOption(QFileDialog::ReadOnly, false);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  // A new name is taken as well as an existing file.
  dialog.setFileMode(QFileDialog::AnyFile);
  // "Any files(*.*)|*.*||": one entry that shows every file.
  dialog.setNameFilter(QStringLiteral("Any files(*.*) (*)"));
  if (!m_pFolder->text().isEmpty()) dialog.setDirectory(m_pFolder->text());
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  TakeSingleFile(dialog.selectedFiles().first().toStdString());
}

void COptsSaveStreamPath::BrowseFolder() {
  FolderDialog::CFolderDialog dialog(
      m_pFolder->text(), QStringLiteral("Output folder (*.bmp)|*.bmp;|All Files (*.*)|*.*||"), this);
  dialog.setWindowTitle(QStringLiteral("Output folder to save images as separate files"));
  if (dialog.exec() != QDialog::Accepted || dialog.GetFolderPath().isEmpty()) return;
  TakeFolder(dialog.GetFolderPath().toStdString());
}

std::string COptsSaveStreamPath::FullPath() const { return m_pFullPath->toPlainText().toStdString(); }

}  // namespace OptsSaveStreamPath

#include "shell/file_dialog_ex.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QTreeView>

#include <algorithm>
#include <filesystem>

#include "io/codecs/gif_mgr.h"
#include "io/codecs/jpeg2000_mgr.h"
#include "io/codecs/jpeg_mgr.h"
#include "io/codecs/png_mgr.h"
#include "io/codecs/tiff_mgr.h"
#include "io/dshow/media_session.h"
#include "media/file_types.h"
#include "options/opts_file_format.h"
#include "options/opts_page.h"
#include "options/zarn_options.h"
#include "platform/qt/app_messages.h"
#include "shell/preview_ctrl.h"

using namespace ZarnTypes;
using namespace platform::qt;

namespace FileDialogEx {

namespace {

std::function<void(TMediaRequest&)>& MediaRunner() {
  static std::function<void(TMediaRequest&)> runner;
  return runner;
}

OptsPage::TOptsPageKind PageOfCategory(std::int32_t category) {
  switch (category) {
    case OPTCAT_YUV: return OptsPage::PAGE_YUV;
    case OPTCAT_JPEG: return OptsPage::PAGE_JPEG;
    case OPTCAT_JPEG2000: return OptsPage::PAGE_JPEG2000;
    case OPTCAT_PNG: return OptsPage::PAGE_PNG;
    case OPTCAT_GIF: return OptsPage::PAGE_GIF;
    case OPTCAT_TIFF: return OptsPage::PAGE_TIFF;
    default: return OptsPage::PAGE_KIND_COUNT;
  }
}

// The information panel: each line of its text is shortened in the middle
// ("clip_of_a…_name.avi") to the panel's width instead of widening the
// dialog; the whole text is its tooltip.
class CInfoPanel : public QLabel {
 public:
  explicit CInfoPanel(QWidget* parent) : QLabel(parent) {
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
  }
  void SetPanelText(const QString& text) {
    setText(text);
    setToolTip(text);
    update();
  }
  QSize minimumSizeHint() const override { return {40, QLabel::minimumSizeHint().height()}; }
  QSize sizeHint() const override { return {200, QLabel::sizeHint().height()}; }

 protected:
  void paintEvent(QPaintEvent* event) override {
    QFrame::paintEvent(event);  // the border
    QPainter p(this);
    const QRect area = contentsRect().adjusted(3, 2, -3, -2);
    const QFontMetrics fm(font());
    p.setClipRect(area);
    int y = area.top() + fm.ascent();
    for (const QString& line : text().split(QLatin1Char('\n'))) {
      if (y - fm.ascent() > area.bottom()) break;
      p.drawText(area.left(), y, fm.elidedText(line, Qt::ElideMiddle, area.width()));
      y += fm.lineSpacing();
    }
  }
};

// The file list shows at least this many rows at the dialog's first size.
constexpr int kMinListRows = 12;

}  // namespace

bool OptionsPageAvailable(std::int32_t category) {
  const OptsPage::TOptsPageKind kind = PageOfCategory(category);
  return kind != OptsPage::PAGE_KIND_COUNT && OptsPage::HasOptionsPage(kind);
}

void CFileDialogEx::SetMediaPreviewRunner(std::function<void(TMediaRequest&)> runner) {
  MediaRunner() = std::move(runner);
}

CFileDialogEx::CFileDialogEx(bool open, const TFileDialogSettings& settings,
                             std::vector<std::int32_t> filterCodes, QWidget* parent)
    : QFileDialog(parent), m_logic(settings, std::move(filterCodes)) {
  setOption(QFileDialog::DontUseNativeDialog, true);
  setAcceptMode(open ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
  setFileMode(open ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
  setObjectName(QStringLiteral("CFileDialogEx"));

  for (std::int32_t code : m_logic.FilterCodes()) m_filters << QString::fromStdString(QtFilterText(code));
  if (!m_filters.isEmpty()) setNameFilters(m_filters);

  m_messages = new TMessageMap(this);
  m_messages->On(WM_APP_OPTS_YUV, [this](WPARAM, LPARAM l) -> LRESULT {
    return m_logic.ExchangeYuv(*RecordOf<TYuvFormatExchange>(l)) ? 1 : 0;
  });
  for (UINT message :
       {WM_APP_OPTS_JPEG, WM_APP_OPTS_JPEG2000, WM_APP_OPTS_PNG, WM_APP_OPTS_GIF, WM_APP_OPTS_TIFF})
    m_messages->On(message, [this, message](WPARAM, LPARAM l) -> LRESULT {
      return m_logic.ExchangeFormatBlock(message, *RecordOf<TOptsExchangeHeader>(l)) ? 1 : 0;
    });

  if (m_logic.Settings().extended) {
    m_logic.Init();
    BuildArea();
    connect(this, &QFileDialog::currentChanged, this, &CFileDialogEx::UpdateFileInfo);
  }
  connect(this, &QFileDialog::filterSelected, this, &CFileDialogEx::OnTypeChange);
}

CFileDialogEx::~CFileDialogEx() = default;

void CFileDialogEx::BuildArea() {
  auto* grid = qobject_cast<QGridLayout*>(layout());
  if (!grid) return;
  int row = grid->rowCount();

  m_label = new QLabel(QString::fromStdString(m_logic.LabelText()), this);
  m_destination = new QComboBox(this);
  m_destination->setObjectName(QStringLiteral("destination"));
  m_destination->setMinimumWidth(130);
  m_channel = new QComboBox(this);
  m_channel->setObjectName(QStringLiteral("channel"));
  m_options = new QPushButton(tr("Options..."), this);
  m_options->setObjectName(QStringLiteral("options"));
  auto* lists = new QHBoxLayout;
  lists->addWidget(m_destination);
  lists->addSpacing(20);
  lists->addWidget(m_channel, 1);
  grid->addWidget(m_label, row, 0);
  grid->addLayout(lists, row, 1, 1, grid->columnCount() > 2 ? grid->columnCount() - 2 : 1);
  grid->addWidget(m_options, row, grid->columnCount() - 1);
  ++row;

  m_details = new QCheckBox(tr("Details"), this);
  m_details->setObjectName(QStringLiteral("details"));
  auto* info = new CInfoPanel(this);
  m_info = info;
  info->SetPanelText(QString::fromStdString(m_logic.PanelText()));
  m_info->setObjectName(QStringLiteral("information"));
  m_info->setFrameShape(QFrame::Box);
  m_info->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  m_info->setTextFormat(Qt::PlainText);
  m_info->setAccessibleName(tr("File Info"));
  m_preview = new PreviewCtrl::CPreviewCtrl(this);
  m_preview->setAccessibleName(tr("File Preview"));
  m_preview->SetDecoder(&CFileDialogEx::DecodeForPreview);
  m_preview->SetInfoSink(
      [this](std::int32_t kind, const std::int32_t* v) { m_logic.OnPreviewInfo(kind, v); });
  const int pitch = m_destination->sizeHint().height() + 6;
  const int panelHeight = std::max(0, m_logic.AreaHeight() - pitch - 10);
  m_info->setFixedHeight(panelHeight);
  m_preview->setFixedSize(panelHeight * 16 / 9, panelHeight);
  auto* panels = new QHBoxLayout;
  panels->addWidget(m_info, 1);
  panels->addSpacing(8);
  panels->addWidget(m_preview);
  grid->addLayout(panels, row, 0, 1, grid->columnCount() > 1 ? grid->columnCount() - 1 : 1);
  grid->addWidget(m_details, row, grid->columnCount() - 1, Qt::AlignTop);

  connect(m_destination, &QComboBox::activated, this, &CFileDialogEx::OnDestinationChosen);
  connect(m_channel, &QComboBox::activated, this, &CFileDialogEx::OnChannelChosen);
  connect(m_options, &QPushButton::clicked, this, &CFileDialogEx::OnOptions);
  connect(m_details, &QCheckBox::toggled, this, &CFileDialogEx::OnDetails);

  if (IsSaveMode(m_logic.Mode())) {
    m_info->hide();
    m_preview->hide();
    m_details->hide();
  }
  m_details->setChecked(m_logic.DetailsShown());
  ShowLogic();
}

void CFileDialogEx::ShowLogic() {
  if (!m_destination) return;
  m_destination->clear();
  for (const TListItem& item : m_logic.DestinationItems())
    m_destination->addItem(QString::fromStdString(item.text), item.data);
  m_destination->setCurrentIndex(m_logic.DestinationIndex());
  m_channel->clear();
  for (const TListItem& item : m_logic.ChannelItems())
    m_channel->addItem(QString::fromStdString(item.text), item.data);
  m_channel->setCurrentIndex(m_logic.ChannelIndex());
  static_cast<CInfoPanel*>(m_info)->SetPanelText(QString::fromStdString(m_logic.PanelText()));
  RefreshOptionsButton();
}

void CFileDialogEx::RefreshOptionsButton() {
  if (!m_options) return;
  // A format whose page the program does not have yet keeps the button off.
  bool enabled = m_logic.OptionsEnabled();
  if (enabled) {
    std::int32_t category = OPTCAT_YUV;
    if (IsSaveMode(m_logic.Mode()))
      category = FormatOptionsCategory(m_logic.FilterFormat(SelectedFilterIndex()));
    enabled = OptionsPageAvailable(category);
  }
  m_options->setEnabled(enabled);
}

int CFileDialogEx::SelectedFilterIndex() const { return m_filters.indexOf(selectedNameFilter()); }

void CFileDialogEx::SelectFilterIndex(int index) {
  if (m_filters.isEmpty()) return;
  if (index < 0 || index >= m_filters.size()) index = 0;
  selectNameFilter(m_filters[index]);
  OnTypeChange(m_filters[index]);
}

bool CFileDialogEx::SelectFilterByFormat(std::int32_t format) {
  const int index = m_logic.FilterIndexForFormat(format);
  if (index < 0) return false;
  SelectFilterIndex(index);
  UpdateFileInfo(m_lastPath);
  return true;
}

void CFileDialogEx::OnTypeChange(const QString& filter) {
  const int index = m_filters.indexOf(filter);
  if (!m_logic.Settings().extended) return;
  QString title;
  if (IsSaveMode(m_logic.Mode())) {
    const QStringList typed = selectedFiles();
    if (!typed.isEmpty() && !QFileInfo(typed.first()).isDir())
      title = QFileInfo(typed.first()).completeBaseName();
  }
  const CFileDialogLogic::TTypeChange change = m_logic.OnTypeChange(index, title.toStdString());
  if (!change.newName.empty()) selectFile(QString::fromStdString(change.newName));
  if (change.refreshInfo) UpdateFileInfo(m_lastPath);
  RefreshOptionsButton();
}

void CFileDialogEx::OnDestinationChosen(int index) {
  m_logic.CloseUpDestination(index);
  ShowLogic();
}

void CFileDialogEx::OnChannelChosen(int index) {
  const std::string name = m_logic.CloseUpChannel(index, SelectedFilterIndex());
  if (!name.empty()) selectFile(QString::fromStdString(name));
}

void CFileDialogEx::OnDetails(bool shown) {
  m_logic.SetDetailsShown(shown);
  if (!m_info || IsSaveMode(m_logic.Mode())) return;
  m_info->setVisible(shown);
  m_preview->setVisible(shown);
}

void CFileDialogEx::UpdateFileInfo(const QString& path) {
  if (!m_logic.Settings().extended || !m_preview) return;
  if (!path.isEmpty()) m_lastPath = path;
  if (m_logic.UpdateFileInfo(path.toStdString(), *m_preview)) {
    static_cast<CInfoPanel*>(m_info)->SetPanelText(QString::fromStdString(m_logic.PanelText()));
    RefreshOptionsButton();
  }
}

void CFileDialogEx::showEvent(QShowEvent* event) {
  QFileDialog::showEvent(event);
  if (m_bFirstShown) return;
  m_bFirstShown = true;
  // The file list gets the room a person needs: at least kMinListRows rows
  // at the dialog's first size, as far as the screen allows.
  QAbstractItemView* view = nullptr;
  for (const char* name : {"treeView", "listView"})
    if (auto* v = findChild<QAbstractItemView*>(QLatin1String(name)); v && v->isVisible()) view = v;
  if (!view) return;
  const int icon = view->iconSize().isValid() ? view->iconSize().height() : 16;
  const int row = std::max(view->fontMetrics().height(), icon) + 6;
  int wanted = kMinListRows * row;
  if (auto* tree = qobject_cast<QTreeView*>(view); tree && !tree->isHeaderHidden())
    wanted += tree->header()->sizeHint().height();
  const int missing = wanted - view->viewport()->height();
  if (missing <= 0) return;
  int height = this->height() + missing;
  if (const QScreen* s = screen()) height = std::min(height, s->availableGeometry().height());
  resize(width(), std::max(this->height(), height));
}

void CFileDialogEx::OnOptions() {
  const std::int32_t category = m_logic.OptionsCategory(SelectedFilterIndex());
  if (category == 0 || !OptionsPageAvailable(category)) return;
  ZarnOptions::CZarnOptions sheet(tr("Options"), this, category);
  if (sheet.DoModal() == 1) SelectFilterByFormat(m_logic.CurrentFormat());
}

void CFileDialogEx::accept() {
  if (!m_logic.Settings().extended) {
    QFileDialog::accept();
    return;
  }
  const QStringList files = selectedFiles();
  const QString path = files.isEmpty() ? QString() : files.first();
  if (path.isEmpty()) return;  // keeps the dialog open
  if (QFileInfo(path).isDir()) {
    QFileDialog::accept();  // enters the folder
    return;
  }
  const TAcceptResult result = m_logic.OnFileNameOK(path.toStdString(), SelectedFilterIndex());
  if (!result.accept) {
    if (!result.correctedName.empty()) selectFile(QString::fromStdString(result.correctedName));
    return;
  }
  QFileDialog::accept();
}

void CFileDialogEx::DecodeForPreview(TMediaRequest& request) {
  request.bSuccess = false;
  switch (request.eSourceFormat) {
    case FF_GIF: {
      GifMgr::CGifMgr mgr;
      request.bSuccess = mgr.ReadGif(request);
      break;
    }
    case FF_JPEG:
    case FF_JPEG_GRAY: {
      JpegMgr::CJpegMgr mgr;
      request.bSuccess = mgr.ReadJpeg(request);
      break;
    }
    case FF_JP2:
    case FF_JPC: {
      Jpeg2000Mgr::CJpeg2000Mgr mgr;
      request.bSuccess = mgr.ReadJpeg2000(request);
      break;
    }
    case FF_PNG: {
      PngMgr::CPngMgr mgr;
      mgr.SetCompression(PngMgr::TPngCompression{9, 8, 0, 15, 8, 8192});
      request.bSuccess = mgr.ReadPng(request);
      break;
    }
    case FF_TIFF: {
      TiffMgr::CTiffMgr mgr;
      request.bSuccess = mgr.ReadTiff(request);
      break;
    }
    default: {
      const std::int32_t f = request.eSourceFormat;
      const bool mediaGraph = (f >= 3 && f <= 6) || (f >= 8 && f <= 14) || (f >= 19 && f <= 21);
      if (!mediaGraph && f != FF_MNG) break;
      if (MediaRunner()) {
        MediaRunner()(request);
      } else if (mediaGraph) {
        // A session of the program's media graph, for this one request.
        const std::unique_ptr<DShowMgr::IMediaSession> session = DShowMgr::MakeMediaSession();
        request.bSuccess = session && session->Run(&request);
      }
      break;
    }
  }
}

}  // namespace FileDialogEx

#include "options/opts_page.h"

#include <array>

#include "platform/message_sink.h"

namespace OptsPage {

COptsPage::COptsPage(QString label, QWidget* parent) : QWidget(parent), m_label(std::move(label)) {}

COptsPage::~COptsPage() = default;

void COptsPage::Initialize() {
  if (m_bInitialized) return;
  m_bInitialized = true;
  m_bInitResult = OnInitDialog();
}

void COptsPage::ShowPageMessage(const std::string& text) {
  platform::ShowMessage(text, {}, platform::MB_OK | platform::MB_ICONEXCLAMATION);
}

bool COptsPage::ReadAnswered(bool answered, const std::string& failText) {
  m_bReadFailed = !answered;
  if (!answered) ShowPageMessage(failText);
  return answered;
}

bool COptsPage::WriteAnswered(bool answered, const std::string& failText) {
  if (!answered) ShowPageMessage(failText);
  return answered;
}

// --- factories ---------------------------------------------------------------

namespace {

std::array<TPageFactory, PAGE_KIND_COUNT>& Factories() {
  static std::array<TPageFactory, PAGE_KIND_COUNT> factories;
  return factories;
}

bool ValidKind(TOptsPageKind kind) { return kind >= 0 && kind < PAGE_KIND_COUNT; }

}  // namespace

TPageFactory RegisterOptionsPage(TOptsPageKind kind, TPageFactory factory) {
  RegisterStandardOptionsPages();  // a later first use must not undo this one
  if (!ValidKind(kind)) return {};
  TPageFactory previous = std::move(Factories()[static_cast<std::size_t>(kind)]);
  Factories()[static_cast<std::size_t>(kind)] = std::move(factory);
  return previous;
}

bool HasOptionsPage(TOptsPageKind kind) {
  RegisterStandardOptionsPages();
  return ValidKind(kind) && static_cast<bool>(Factories()[static_cast<std::size_t>(kind)]);
}

COptsPage* CreateOptionsPage(TOptsPageKind kind) {
  if (!HasOptionsPage(kind)) return nullptr;
  return Factories()[static_cast<std::size_t>(kind)]();
}

}  // namespace OptsPage

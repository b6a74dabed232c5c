#pragma once
// An owner window for option-page tests: answers one message's reads and
// writes from its own values, or stays silent, and records what it saw; and
// a test that opens an options sheet of one page on such an owner.

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "options/opts_exchange.h"
#include "options/opts_page.h"
#include "options/zarn_options.h"
#include "platform/qt/app_messages.h"
#include "tests/support/message_fixture.h"

namespace tovrin_test {

template <class TBlock>
class TTestOwner : public QWidget {
 public:
  explicit TTestOwner(UINT message) : m_map(new platform::qt::TMessageMap(this)) {
    m_map->On(message, [this](platform::qt::WPARAM w, platform::qt::LPARAM l) -> platform::qt::LRESULT {
      auto* block = ZarnTypes::OptsBlockOf<TBlock>(l);
      ops.push_back(block->header.op);
      wParams.push_back(w);
      if (!answer) return 0;
      if (block->header.op == ZarnTypes::OPTS_XCHG_READ) {
        Fill(*block);
      } else if (block->header.op == ZarnTypes::OPTS_XCHG_WRITE) {
        written.push_back(*block);
      } else {
        return 0;
      }
      block->header.answered = 1;
      return 1;
    });
  }

  // What a read copies into the block (the header stays the page's).
  void Fill(TBlock& block) const {
    const ZarnTypes::TOptsExchangeHeader head = block.header;
    block = values;
    block.header = head;
  }

  bool answer = true;
  TBlock values{};
  std::vector<std::int32_t> ops;
  std::vector<platform::qt::WPARAM> wParams;
  std::vector<TBlock> written;

 private:
  platform::qt::TMessageMap* m_map;
};

// Puts a page factory in place for one test and restores the previous one.
class TScopedPageFactory {
 public:
  TScopedPageFactory(OptsPage::TOptsPageKind kind, OptsPage::TPageFactory factory)
      : m_kind(kind), m_previous(OptsPage::RegisterOptionsPage(kind, std::move(factory))) {}
  ~TScopedPageFactory() { OptsPage::RegisterOptionsPage(m_kind, std::move(m_previous)); }
  TScopedPageFactory(const TScopedPageFactory&) = delete;
  TScopedPageFactory& operator=(const TScopedPageFactory&) = delete;

 private:
  OptsPage::TOptsPageKind m_kind;
  OptsPage::TPageFactory m_previous;
};

// Bounds a modal sheet's run: after ten seconds the modal window is closed
// and ranOut() says so (a sheet meant to end by itself did not).
class TModalGuard {
 public:
  TModalGuard() {
    m_timer.setSingleShot(true);
    QObject::connect(&m_timer, &QTimer::timeout, [this] {
      m_bRanOut = true;
      if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
    });
    m_timer.start(10000);
  }
  bool ranOut() const { return m_bRanOut; }

 private:
  QTimer m_timer;
  bool m_bRanOut = false;
};

// Whether two blocks hold the same `count` bytes from offset 8, the owner's
// part after the header.
template <class TBlock>
bool SameOwnerBytes(const TBlock& a, const TBlock& b, std::size_t count) {
  static_assert(sizeof(ZarnTypes::TOptsExchangeHeader) == 8);
  return count <= sizeof(TBlock) - 8 && std::memcmp(reinterpret_cast<const char*>(&a) + 8,
                                                    reinterpret_cast<const char*>(&b) + 8, count) == 0;
}

// A test of one page `TPage` of the sheet of `category`, whose owner answers
// `message` with a `TBlock`.
template <class TBlock, class TPage>
class TPageSheetTest : public TRecordedMessagesTest {
 protected:
  TPageSheetTest(UINT message, std::int32_t category, OptsPage::TOptsPageKind kind)
      : owner(message), m_category(category), m_kind(kind) {}

  // A fresh sheet, read-only or not, after the page's read (what the owner
  // saw before is forgotten).
  TPage* Open(bool readOnly = false) {
    owner.written.clear();
    owner.ops.clear();
    sheet = std::make_unique<ZarnOptions::CZarnOptions>("Options", &owner, m_category);
    sheet->SetReadOnly(readOnly);
    sheet->OnInitDialog();
    return Page();
  }

  // A fresh sheet shown at its own size, laid out before and after the
  // page's read.
  TPage* OpenShown() {
    sheet = std::make_unique<ZarnOptions::CZarnOptions>("Options", &owner, m_category);
    sheet->show();
    sheet->resize(sheet->sizeHint());
    QApplication::processEvents();
    sheet->OnInitDialog();
    QApplication::processEvents();
    return Page();
  }

  TPage* Page() const { return static_cast<TPage*>(sheet->Page(m_kind)); }

  // On a silent owner the page reports `readFailed`; accepting the sheet
  // sends nothing after the read and reports `writeFailed`. The owner answers
  // again and the texts are forgotten afterwards.
  void ExpectSilentOwnerReported(const std::string& readFailed, const std::string& writeFailed) {
    owner.answer = false;
    TPage* page = Open();
    EXPECT_TRUE(page->ReadFailed());
    EXPECT_EQ(sink.Texts(), std::vector<std::string>{readFailed});
    sheet->AcceptSheet();
    EXPECT_EQ(owner.ops, std::vector<std::int32_t>{ZarnTypes::OPTS_XCHG_READ});
    ASSERT_FALSE(sink.Texts().empty());
    EXPECT_EQ(sink.Texts().back(), writeFailed);
    owner.answer = true;
    sink.Clear();
  }

  // A read-only sheet: the page enabled as `enabled`, and accepting the
  // sheet sends nothing after the read and reports nothing.
  void ExpectReadOnlySendsNothing(bool enabled) {
    TPage* page = Open(true);
    EXPECT_EQ(page->isEnabled(), enabled);
    sheet->AcceptSheet();
    EXPECT_EQ(owner.ops, std::vector<std::int32_t>{ZarnTypes::OPTS_XCHG_READ});
    EXPECT_TRUE(sink.Texts().empty());
  }

  TTestOwner<TBlock> owner;
  std::unique_ptr<ZarnOptions::CZarnOptions> sheet;

 private:
  std::int32_t m_category;
  OptsPage::TOptsPageKind m_kind;
};

}  // namespace tovrin_test

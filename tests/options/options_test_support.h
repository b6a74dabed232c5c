#pragma once
// An owner window for option-page tests: answers one message's reads and
// writes from its own values, or stays silent, and records what it saw.

#include <QWidget>

#include <cstdint>
#include <cstring>
#include <vector>

#include "options/opts_exchange.h"
#include "options/opts_page.h"
#include "platform/qt/app_messages.h"

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

}  // namespace tovrin_test

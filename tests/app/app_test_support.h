#pragma once
// A CTovrinApp set up in a temporary folder: its own settings file and user
// folders, a recording message sink and placeholder documents.

#include <QByteArray>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/tovrin_app.h"
#include "platform/message_sink.h"
#include "platform/qt/settings_store.h"
#include "tests/app/placeholder_document.h"
#include "tests/support/test_support.h"

// The settings block "ProgCfg" as stored; empty when there is none.
inline std::vector<std::uint8_t> StoredProgCfg(platform::qt::CRegistryAccess& store) {
  std::vector<std::uint8_t> block;
  store.ReadBinaryValue(kProgCfgKey, "ProgCfg", block);
  return block;
}

class TAppTest : public ::testing::Test {
 protected:
  // The user's cache folder (where the help page goes) is the test's own.
  TAppTest() : m_scoped(&sink) {
    qputenv("XDG_CACHE_HOME", QByteArray::fromStdString((dir / "cache").string()));
  }

  QString Ini() const { return QString::fromStdString((dir / "Tovrin.ini").string()); }
  TKnownFolders Folders() const {
    return {(dir / "appdata").string(), (dir / "Pictures").string(), (dir / "Videos").string()};
  }
  std::unique_ptr<platform::qt::CRegistryAccess> Store() const {
    return std::make_unique<platform::qt::CRegistryAccess>(Ini());
  }

  std::unique_ptr<CTovrinApp> MakeApp(std::vector<std::string> args = {"/opt/tovrin/bin/tovrin"}) {
    auto app = std::make_unique<CTovrinApp>();
    app->SetSettingsFile(Ini());
    app->SetKnownFolders(Folders());
    app->SetCommandLine(std::move(args));
    app->SetDocumentFactory(&CPlaceholderDocument::Create);
    app->Services().askOpenFile = [this] {
      ++askedForFile;
      return fileToOpen;
    };
    app->Services().openUrl = [this](const QUrl& url) {
      openedUrls.push_back(url);
      return urlOpens;
    };
    return app;
  }

  // Starts and ends one run; `during` runs in between.
  template <class F>
  void Run(F during) {
    auto app = MakeApp();
    ASSERT_TRUE(app->InitInstance());
    during(*app);
    app->ExitInstance();
  }

  tovrin_test::TTempDir dir;
  platform::TRecordingMessageSink sink;
  int askedForFile = 0;
  std::string fileToOpen;
  std::vector<QUrl> openedUrls;
  bool urlOpens = true;

 private:
  platform::TScopedMessageSink m_scoped;
};

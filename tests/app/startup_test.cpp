#include <QApplication>
#include <QFile>

#include <filesystem>
#include <random>

#include "platform/text.h"
#include "shell/doc_manager.h"
#include "shell/main_frame.h"
#include "tests/app/app_test_support.h"

using namespace shell;

namespace {

std::vector<std::string> UserFolders(const TKnownFolders& k) {
  std::vector<std::string> f = {k.roamingAppData + "/Halvane/Tovrin/Config_Ini",
                                k.roamingAppData + "/Halvane/Tovrin/Config_Xml",
                                k.roamingAppData + "/Halvane/Tovrin/Log"};
  for (int c = 1; c <= 4; ++c) {
    f.push_back(k.videos + "/Tovrin/SaveStream_" + std::to_string(c));
    f.push_back(k.pictures + "/Tovrin/CaptureImage_" + std::to_string(c));
  }
  return f;
}

}  // namespace

TEST_F(TAppTest, AFirstRunMakesTheFoldersOpensOneDocumentAndSavesAtExit) {
  // A folder that exists already is left as it is.
  const TKnownFolders k = Folders();
  std::filesystem::create_directories(k.videos + "/Tovrin/SaveStream_2");
  tovrin_test::WriteAll(k.videos + "/Tovrin/SaveStream_2/keep.yuv", std::string("x"));

  auto app = MakeApp();
  ASSERT_TRUE(app->InitInstance());
  EXPECT_TRUE(app->FirstRun());
  EXPECT_FALSE(app->SettingsRead());
  for (const std::string& f : UserFolders(k)) EXPECT_TRUE(std::filesystem::is_directory(f)) << f;
  EXPECT_TRUE(std::filesystem::exists(k.videos + "/Tovrin/SaveStream_2/keep.yuv"));
  // The per-user paths the documents copy.
  const TAppFolders& p = app->Params().folders;
  EXPECT_EQ(p.configIni, k.roamingAppData + "/Halvane/Tovrin/Config_Ini");
  EXPECT_EQ(p.configIni2, p.configIni);
  EXPECT_EQ(p.log, k.roamingAppData + "/Halvane/Tovrin/Log");
  EXPECT_EQ(p.logName, "Log");
  EXPECT_EQ(p.recording[3], (TFolderPrefix{k.videos + "/Tovrin/SaveStream_4", "Clip"}));
  EXPECT_EQ(p.capture[0], (TFolderPrefix{k.pictures + "/Tovrin/CaptureImage_1", "Image"}));

  // One empty media document, maximised in its tab.
  MainFrame::CMainFrame* frame = app->MainFrameWindow();
  ASSERT_NE(frame, nullptr);
  EXPECT_TRUE(frame->isVisible());
  ASSERT_EQ(frame->ChildFrames().size(), 1u);
  EXPECT_EQ(frame->ActiveDocument()->Title(), "DM1 ||||");
  EXPECT_EQ(app->DocumentRegistry().size(), 1u);
  EXPECT_EQ(app->DocumentRegistry()[0].number, 1);

  auto store = Store();
  EXPECT_TRUE(StoredProgCfg(*store).empty()) << "nothing is written before the exit";
  app->ExitInstance();
  store = Store();
  const std::vector<std::uint8_t> block = StoredProgCfg(*store);
  ASSERT_EQ(block.size(), 2168u);
  EXPECT_EQ(block[0], 1) << "saved marker";
  EXPECT_EQ(block[2148], 13) << "the main frame's look id went into the block";
  EXPECT_EQ(block[2156], 3);
  EXPECT_EQ(block[2160], 1);
  std::string v;
  for (int c = 0; c < 4; ++c)
    for (int slot = 0; slot < 6; ++slot) {
      EXPECT_TRUE(store->ValueExists(kProgCfgStrKey,
                                     std::string(kSequenceNamingValues[slot]) + "_" + std::to_string(c)));
      if (slot > 0) {
        EXPECT_TRUE(store->ValueExists(kProgCfgStrKey,
                                       std::string(kImageNamingValues[slot]) + "_" + std::to_string(c)));
      }
    }
}

TEST_F(TAppTest, StartUpFailuresSayWhyAndLeaveTheSavedSettingsAlone) {
  // Settings of an earlier run.
  const std::vector<std::uint8_t> earlier(2168, 0x5A);
  Store()->WriteBinaryValue(kProgCfgKey, "ProgCfg", earlier.data(), earlier.size());

  struct TCase {
    bool sockets, ole, factory;
    const char* message;
  };
  const TCase cases[] = {
      {false, true, true, "Windows sockets initialization failed."},
      {true, false, true,
       "OLE initialization failed.  Make sure that the OLE libraries are the correct version."},
      {false, false, true, "Windows sockets initialization failed."},
      {true, true, false, nullptr},  // no document template: silent
  };
  for (const TCase& c : cases) {
    sink.Clear();
    auto app = MakeApp();
    app->Services().initSockets = [&] { return c.sockets; };
    app->Services().initOle = [&] { return c.ole; };
    if (!c.factory) app->SetDocumentFactory({});
    EXPECT_FALSE(app->InitInstance());
    EXPECT_FALSE(app->InitSucceeded());
    if (c.message) {
      EXPECT_EQ(sink.Texts(), std::vector<std::string>{c.message});
    } else {
      EXPECT_TRUE(sink.Texts().empty());
    }
    app->ExitInstance();
    EXPECT_EQ(StoredProgCfg(*Store()), earlier);
  }
}

TEST_F(TAppTest, SettingsWrittenAtExitAreReadBackByteForByte) {
  // Every field of the block gets a value; the naming strings too.
  std::mt19937 rng(7);
  std::vector<std::uint8_t> random(kProgCfgSize, 0);
  for (std::size_t i = 0; i < kProgCfgSize; ++i)
    if (IsProgCfgFieldByte(i)) random[i] = static_cast<std::uint8_t>(rng());
  TProgCfg written;
  ASSERT_TRUE(DecodeProgCfg(random.data(), random.size(), written));
  written.optionResetMask = 0;  // keep the flag word as it is
  written.toolbarImageStyle = 2;
  written.lookId = 6;
  // The frame's own bytes that nothing here sets.
  written.resetChildWindows = 0;
  written.mdiTabsChanged = 0;
  written.lookChanged = 0;
  std::array<TChannelNaming, 4> seq, img;
  for (int c = 0; c < 4; ++c)
    for (int slot = 0; slot < 6; ++slot) {
      seq[static_cast<std::size_t>(c)].Slot(slot) =
          "seq " + std::to_string(c) + "." + std::to_string(slot) + " \xC3\xA9";
      img[static_cast<std::size_t>(c)].Slot(slot) = slot ? "img/" + std::to_string(c * 10 + slot) : "";
    }

  Run([&](CTovrinApp& app) {
    app.ProgCfg() = written;
    // The frame's group is the frame's: it writes its own at exit.
    app.ShellState().lookId = 6;
    app.ShellState().toolbarImageStyle = 2;
    app.ShellState().startPlaying = written.startPlaying;
    app.MainFrameWindow()->MdiTabSettings() = written.mdiTabs;
    app.SequenceNaming() = seq;
    app.ImageNaming() = img;
    // The document manager's part is the manager's: it hands it over at exit.
    app.DocManager()->ApplyCfg(written.docManager);
    app.DocManager()->Settings().format = written.docManager.format;
  });
  written.savedMarker = 1;
  EXPECT_EQ(StoredProgCfg(*Store()), EncodeProgCfg(written));

  auto app = MakeApp();
  ASSERT_TRUE(app->InitInstance());
  EXPECT_FALSE(app->FirstRun());
  EXPECT_TRUE(app->SettingsRead());
  app->MainFrameWindow()->close();
  EXPECT_EQ(EncodeProgCfg(app->ProgCfg()), EncodeProgCfg(written));
  EXPECT_EQ(app->ShellState().lookId, 6);
  EXPECT_EQ(app->ShellState().toolbarImageStyle, 2);
  for (std::size_t c = 0; c < 4; ++c)
    for (int slot = 0; slot < 6; ++slot) {
      // The title bases are written but not read back.
      const std::string wantSeq = slot == 2 ? "" : seq[c].Slot(slot);
      const std::string wantImg = slot == 2 ? "" : img[c].Slot(slot);
      EXPECT_EQ(app->SequenceNaming()[c].Slot(slot), wantSeq) << c << " " << slot;
      EXPECT_EQ(app->ImageNaming()[c].Slot(slot), wantImg) << c << " " << slot;
    }
  app->ExitInstance();
}

TEST_F(TAppTest, ATooLongNamingStringDoesNotStopTheRestFromBeingSaved) {
  Run([](CTovrinApp& app) {
    app.SequenceNaming()[2].dirOut = std::string(1024, 'd');
    app.SequenceNaming()[3].dirOut = std::string(1023, 'e');  // just fits
    app.ImageNaming()[3].extension = ".png";
    app.ProgCfg().optionFlags = 0x55;
  });
  auto store = Store();
  const std::vector<std::uint8_t> block = StoredProgCfg(*store);
  ASSERT_EQ(block.size(), 2168u);
  EXPECT_EQ(block[20], 0x55) << "the settings block was written";
  std::string v;
  ASSERT_TRUE(store->ReadStringValue(kProgCfgStrKey, "SaveSeqDirOut_2", v));
  EXPECT_EQ(v, "") << "the long value is not stored";
  ASSERT_TRUE(store->ReadStringValue(kProgCfgStrKey, "SaveSeqDirOut_3", v));
  EXPECT_EQ(v.size(), 1023u);
  ASSERT_TRUE(store->ReadStringValue(kProgCfgStrKey, "SaveImgFNameExt_3", v));
  EXPECT_EQ(v, ".png") << "values after the long one are stored";

  // The next start reads everything back.
  auto app = MakeApp();
  ASSERT_TRUE(app->InitInstance());
  EXPECT_TRUE(app->SettingsRead());
  EXPECT_EQ(app->ProgCfg().optionFlags, 0x55u);
  EXPECT_EQ(app->ImageNaming()[3].extension, ".png");
  // A value that was stored before stays when the new one is too long.
  app->SequenceNaming()[3].dirOut = std::string(2000, 'f');
  app->ExitInstance();
  EXPECT_EQ(app->SkippedNamingValues(), std::vector<std::string>{"SaveSeqDirOut_3"});
  ASSERT_TRUE(Store()->ReadStringValue(kProgCfgStrKey, "SaveSeqDirOut_3", v));
  EXPECT_EQ(v, std::string(1023, 'e'));
}

TEST_F(TAppTest, StoredSettingsOfOtherShapes) {
  auto seedNaming = [&] {
    auto s = Store();
    for (int c = 0; c < 4; ++c)
      for (int slot = 0; slot < 6; ++slot) {
        s->WriteStringValue(kProgCfgStrKey,
                            std::string(kSequenceNamingValues[slot]) + "_" + std::to_string(c), "s");
        if (slot)
          s->WriteStringValue(kProgCfgStrKey, std::string(kImageNamingValues[slot]) + "_" + std::to_string(c),
                              "i");
      }
  };
  // A short block (100 bytes): what it covers is taken, the rest keeps zero;
  // the reset mask clears its bits of the flag word at the start.
  TProgCfg shortCfg;
  shortCfg.savedMarker = 1;
  shortCfg.optionFlags = 0b111;
  shortCfg.optionResetMask = 0b001;
  shortCfg.docManager.format = 9;
  std::vector<std::uint8_t> bytes = EncodeProgCfg(shortCfg);
  bytes.resize(100);
  Store()->WriteBinaryValue(kProgCfgKey, "ProgCfg", bytes.data(), bytes.size());
  seedNaming();
  {
    auto app = MakeApp();
    ASSERT_TRUE(app->InitInstance());
    EXPECT_TRUE(app->SettingsRead());
    EXPECT_EQ(app->ProgCfg().optionFlags, 0b110u);
    EXPECT_EQ(app->ProgCfg().docManager.format, 9);
    EXPECT_EQ(app->ProgCfg().recorder[0].format, 0);
    EXPECT_EQ(app->SequenceNaming()[1].saveSingle, "s");
    app->ExitInstance();
  }
  // A longer block than the program's is not read; neither are missing names.
  std::vector<std::uint8_t> longer(2200, 0);
  longer[0] = 1;
  Store()->WriteBinaryValue(kProgCfgKey, "ProgCfg", longer.data(), longer.size());
  {
    auto app = MakeApp();
    ASSERT_TRUE(app->InitInstance());
    EXPECT_FALSE(app->FirstRun());
    EXPECT_FALSE(app->SettingsRead());
    app->ExitInstance();  // writes a proper block again
  }
  EXPECT_EQ(StoredProgCfg(*Store()).size(), 2168u);
  Store()->DeleteKey(kProgCfgStrKey);
  {
    auto app = MakeApp();
    ASSERT_TRUE(app->InitInstance());
    EXPECT_FALSE(app->SettingsRead()) << "the naming values are missing";
    EXPECT_EQ(app->ShellState().lookId, 13) << "the frame still took its group from the block read";
    app->ExitInstance();
  }
}

TEST_F(TAppTest, AFirstRunAndTheResetAtExitDeleteTheSavedLayout) {
  const char* workspace = "Software\\Halvane\\Tovrin\\Workspace";
  Store()->WriteBinaryValue(workspace, "BarState", "abc", 3);
  Run([&](CTovrinApp& app) {
    EXPECT_FALSE(Store()->KeyExists(workspace)) << "a first run starts from the default layout";
    app.MainFrameWindow()->SaveWorkspace();
    EXPECT_TRUE(Store()->KeyExists(workspace));
  });
  EXPECT_TRUE(Store()->KeyExists(workspace));
  Run([&](CTovrinApp& app) {
    app.MainFrameWindow()->SaveWorkspace();
    app.ShellState().resetLayoutAtExit = 1;
  });
  EXPECT_FALSE(Store()->KeyExists(workspace));
  EXPECT_EQ(StoredProgCfg(*Store()).size(), 2168u);
}

TEST(ClampToWorkArea, PlacementsMoveIntoTheWorkArea) {
  const TPlacementRect work{0, 0, 1920, 1040};
  struct TCase {
    TPlacementRect in, out;
    bool moved;
  };
  const TCase cases[] = {
      {{100, 100, 900, 700}, {100, 100, 900, 700}, false},
      {{-50, 10, 750, 610}, {0, 10, 800, 610}, true},        // left overhang moves right
      {{1500, 10, 2100, 610}, {1320, 10, 1920, 610}, true},  // right overhang moves left
      {{10, -30, 810, 570}, {10, 0, 810, 600}, true},
      {{10, 800, 810, 1200}, {10, 640, 810, 1040}, true},
      {{-100, 0, 2500, 500}, {0, 0, 1920, 500}, true},  // wider than the area: cut
      {{-10, -10, 3000, 2000}, {0, 0, 1920, 1040}, true},
  };
  for (const TCase& c : cases) {
    TPlacementRect r = c.in;
    EXPECT_EQ(CTovrinApp::ClampToWorkArea(r, work), c.moved) << c.in.left << "," << c.in.top;
    EXPECT_EQ(r, c.out) << c.in.left << "," << c.in.top;
  }
}

TEST_F(TAppTest, AFileOfTheCommandLineThatCannotBeOpenedIsReportedAndTheProgramRuns) {
  const std::string clip = (dir / "missing.avi").string();
  auto app = MakeApp({"/opt/tovrin/bin/tovrin", clip});
  ASSERT_TRUE(app->InitInstance());
  EXPECT_TRUE(app->InitSucceeded());
  EXPECT_EQ(sink.Texts(), std::vector<std::string>{"Can not open file\n " + clip});
  ASSERT_NE(app->MainFrameWindow(), nullptr);
  EXPECT_TRUE(app->MainFrameWindow()->isVisible());
  EXPECT_TRUE(app->MainFrameWindow()->ChildFrames().empty()) << "no empty document is left for the file";
  EXPECT_TRUE(app->RecentFiles().empty());
  app->OnIdle(1);  // no document: no session, no fault
  app->ExitInstance();
  EXPECT_EQ(StoredProgCfg(*Store()).size(), 2168u) << "a started program saves its settings";
}

TEST_F(TAppTest, FoldersThatCannotBeLocatedLeaveTheirStringsEmptyAndAreNotCreated) {
  struct TCase {
    const char* name;
    bool appData, pictures, videos;
  };
  const TCase cases[] = {
      {"no application data", false, true, true},
      {"no pictures", true, false, true},
      {"no videos", true, true, false},
      {"none", false, false, false},
  };
  for (const TCase& c : cases) {
    std::filesystem::remove_all(dir / "k");
    const TKnownFolders k{c.appData ? (dir / "k/appdata").string() : "",
                          c.pictures ? (dir / "k/Pictures").string() : "",
                          c.videos ? (dir / "k/Videos").string() : ""};
    CTovrinApp app;
    app.SetKnownFolders(k);
    app.InitFolderPaths();
    app.CreateFolders();
    const TAppFolders& f = app.Params().folders;
    EXPECT_EQ(f.configIni.empty(), !c.appData) << c.name;
    EXPECT_EQ(f.configXml2.empty(), !c.appData) << c.name;
    EXPECT_EQ(f.log.empty(), !c.appData) << c.name;
    // The names and prefixes are there whatever was found.
    EXPECT_EQ(f.configIniName, "Config") << c.name;
    EXPECT_EQ(f.configXmlName, "Config") << c.name;
    EXPECT_EQ(f.logName, "Log") << c.name;
    for (std::size_t ch = 0; ch < 4; ++ch) {
      EXPECT_EQ(f.recording[ch].folder.empty(), !c.videos) << c.name;
      EXPECT_EQ(f.recording[ch].prefix, "Clip") << c.name;
      EXPECT_EQ(f.capture[ch].folder.empty(), !c.pictures) << c.name;
      EXPECT_EQ(f.capture[ch].prefix, "Image") << c.name;
    }
    EXPECT_EQ(std::filesystem::is_directory(dir / "k/appdata/Halvane/Tovrin/Log"), c.appData) << c.name;
    EXPECT_EQ(std::filesystem::is_directory(dir / "k/Videos/Tovrin/SaveStream_3"), c.videos) << c.name;
    EXPECT_EQ(std::filesystem::is_directory(dir / "k/Pictures/Tovrin/CaptureImage_2"), c.pictures) << c.name;
    EXPECT_FALSE(std::filesystem::exists("/Tovrin")) << c.name;
  }
}

TEST_F(TAppTest, NamingValuesAreReadInOrderUntilTheFirstMissingOne) {
  {
    auto s = Store();
    const std::vector<std::uint8_t> block = EncodeProgCfg(TProgCfg{});
    s->WriteBinaryValue(kProgCfgKey, "ProgCfg", block.data(), block.size());
    for (int c = 0; c < 4; ++c)
      for (int slot = 0; slot < 6; ++slot) {
        s->WriteStringValue(kProgCfgStrKey,
                            std::string(kSequenceNamingValues[slot]) + "_" + std::to_string(c),
                            "s" + std::to_string(c) + std::to_string(slot));
        if (slot)
          s->WriteStringValue(kProgCfgStrKey, std::string(kImageNamingValues[slot]) + "_" + std::to_string(c),
                              "i" + std::to_string(c) + std::to_string(slot));
      }
    // Channel 1's image prefix is missing; its sequence values come before it.
    s->DeleteValue(kProgCfgStrKey, "SaveImgFNamePref_1");
  }
  CTovrinApp app;
  app.SetSettingsFile(Ini());
  app.SequenceNaming()[1].suffix = "old";
  app.ImageNaming()[1].suffix = "old";
  app.SequenceNaming()[2].saveSingle = "old";
  EXPECT_FALSE(app.ReadProgCfg());
  EXPECT_FALSE(app.SettingsRead());
  EXPECT_EQ(app.SequenceNaming()[0].prefix, "s03");
  EXPECT_EQ(app.ImageNaming()[0].extension, "i05");
  EXPECT_EQ(app.SequenceNaming()[1].suffix, "s14") << "read before the missing value";
  EXPECT_EQ(app.ImageNaming()[1].dirOut, "i11");
  EXPECT_EQ(app.ImageNaming()[1].suffix, "old") << "after the missing value nothing is read";
  EXPECT_EQ(app.SequenceNaming()[2].saveSingle, "old");
}

// Image sequences: a folder of stills read from a start file, in the
// folder's order or the channel's sort order; the two name orderings; the
// folder listing and the first / last / previous / next navigation.

#include <gtest/gtest.h>

#include <QImage>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "io/read_stream.h"
#include "media/dib.h"
#include "platform/message_sink.h"
#include "tests/support/message_fixture.h"
#include "tests/support/test_support.h"

namespace {

using namespace ZarnTypes;
using ReadStream::CompareNamesByText;
using ReadStream::CompareNamesNatural;
using ReadStream::CReadStream;
using ReadStream::TFindData;
using ReadStream::TReaderDelivery;
using ReadStream::TReaderSource;

// Stands in for the engine's frame reception: keeps the first pixel of
// every RGB frame and the first luma sample of every planar frame.
struct TFrameSink {
  std::vector<int> firstBytes;
  std::vector<int> widths;
  std::atomic<bool> stop{false};
  std::atomic<bool> end{false};
  int stopAfter = -1;
  std::function<void()> onFrame;  // after each frame, on the reader's thread

  static bool Callback(TMediaSenderKind, TSourcePurpose, std::int32_t, void* context, TMediaFrameNotice* f) {
    auto* self = static_cast<TFrameSink*>(context);
    const std::uint8_t* first = f->pRgbData != nullptr ? f->pRgbData : f->pY;
    self->firstBytes.push_back(first != nullptr ? first[0] : -1);
    self->widths.push_back(f->nWidth);
    if (self->onFrame) self->onFrame();
    if (self->stopAfter >= 0 && static_cast<int>(self->firstBytes.size()) >= self->stopAfter)
      self->stop = true;
    return true;
  }
  TReaderDelivery Delivery() {
    TReaderDelivery d;
    d.nProcId = 41;
    d.eSenderKind = MEDIA_SENDER_BMP;
    d.pContext = this;
    d.pFrameCallback = &TFrameSink::Callback;
    d.pStopFlag = &stop;
    d.pEndFlag = &end;
    return d;
  }
};

class ImageSequenceTest : public tovrin_test::TRecordedMessagesTest {
 protected:
  // A 24-bit bitmap whose every blue byte is `mark`, so each file is recognisable.
  void WriteBmp(const std::string& name, int mark, int w = 4, int h = 3) {
    Dib::TDibSection section;
    section.header.biWidth = w;
    section.header.biHeight = h;
    section.header.biBitCount = 24;
    section.bits.assign(section.Stride() * h, static_cast<std::uint8_t>(mark));
    ASSERT_TRUE(Dib::SaveDibSectionToBmpFile(dir / name, section));
  }
  void Touch(const std::string& name) { tovrin_test::WriteAll(dir / name, std::string("x")); }

  TReaderSource BmpSequence(const std::string& startName, int w = 4, int h = 3) const {
    TReaderSource s;
    s.bSequence = true;
    s.sPath = Path(startName);
    s.eStreamType = ST_BMP;
    s.eFileFormat = FF_BMP;
    s.ePixelFormat = PF_RGB24;
    s.nWidth = w;
    s.nHeight = h;
    return s;
  }

  // Runs the reader in a thread of its own for at most a few seconds. A
  // reader still running then is blocked on the FIFO: a writer opened and
  // closed on it lets it go, and the run counts as blocked (false).
  bool PlayBounded(CReadStream& reader, const TReaderSource& source, TFrameSink& fs,
                   const std::filesystem::path& fifo) {
    reader.SetDescription(source);
    reader.SetDelivery(fs.Delivery());
    std::atomic<bool> done{false};
    std::thread run([&] {
      reader.Run();
      done = true;
    });
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!done && std::chrono::steady_clock::now() < end)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    const bool blocked = !done;
    while (!done) {
      const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
      if (fd >= 0) ::close(fd);
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    run.join();
    return !blocked;
  }

  // Runs a reader over the source and returns the marks of the frames it delivered.
  std::vector<int> Play(CReadStream& reader, const TReaderSource& source, TFrameSink& fs,
                        bool expectResult = true) {
    reader.SetDescription(source);
    reader.SetDelivery(fs.Delivery());
    EXPECT_EQ(reader.Run(), expectResult);
    return fs.firstBytes;
  }
};

std::vector<std::string> Names(const std::vector<TFindData>& list) {
  std::vector<std::string> out;
  for (const TFindData& d : list) out.push_back(d.sName);
  return out;
}

TFindData Entry(const std::string& name) { return TFindData{name, false, 0}; }

// ---------------------------------------------------------------------------
// Orderings

TEST(NameOrdering, NaturalOrderComparesDigitRunsByValue) {
  struct Case {
    const char* a;
    const char* b;
    bool aFirst;
    bool bFirst;
  };
  const Case cases[] = {
      {"a9.bmp", "a10.bmp", true, false},
      {"a10.bmp", "A11.bmp", true, false},  // letters after lower-casing
      {"a10.bmp", "b.bmp", true, false},
      {"x.png", "x1.png", true, false},  // '.' is a smaller code unit than '1'
      {"img2.png", "img10.png", true, false},
      {"a01.bmp", "a1.bmp", false, false},  // equal token for token
      {"Frame.bmp", "frame.bmp", false, false},
      {"a99999999999999999999.bmp", "a100000000000000000000.bmp", true, false},  // beyond 64 bits
      {"2.bmp", "a.bmp", true, false},
      {"a", "a1", true, false},  // the shorter name runs out first
      {"a_1_10", "a_1_9", false, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CompareNamesNatural(Entry(c.a), Entry(c.b)), c.aFirst) << c.a << " vs " << c.b;
    EXPECT_EQ(CompareNamesNatural(Entry(c.b), Entry(c.a)), c.bFirst) << c.b << " vs " << c.a;
  }
}

TEST(NameOrdering, TextOrderIgnoresCaseFirstAndIsStrict) {
  EXPECT_TRUE(CompareNamesByText(Entry("apple"), Entry("Banana")));
  EXPECT_FALSE(CompareNamesByText(Entry("Banana"), Entry("apple")));
  EXPECT_TRUE(CompareNamesByText(Entry("a10"), Entry("a9")));  // no numbers in text order
  EXPECT_TRUE(CompareNamesByText(Entry("abc"), Entry("abcd")));
  EXPECT_TRUE(CompareNamesByText(Entry("a.bmp"), Entry("A.bmp")));  // lower case first among case variants
  EXPECT_FALSE(CompareNamesByText(Entry("A.bmp"), Entry("a.bmp")));
  EXPECT_FALSE(CompareNamesByText(Entry("same"), Entry("same")));
}

TEST(NameOrdering, BothOrderingsAreStrictWeakOrders) {
  // Sorting with an ordering that is not strict and weak is undefined; check
  // irreflexivity, asymmetry and transitivity of both (and of their
  // equivalence) over a set of awkward names.
  const std::vector<std::string> names{"a",
                                       "A",
                                       "a1",
                                       "a01",
                                       "a001",
                                       "A1",
                                       "a10",
                                       "a9",
                                       "b",
                                       "B2",
                                       "b10",
                                       "x.png",
                                       "x1.png",
                                       "1",
                                       "01",
                                       "10",
                                       "",
                                       ".",
                                       "_",
                                       "a_b",
                                       "a-b",
                                       "Z",
                                       "z9z",
                                       "z09z",
                                       "z9Z",
                                       "\xC3\xA9t\xC3\xA9",
                                       "\xC3\x89t\xC3\xA9"};
  using Less = bool (*)(const TFindData&, const TFindData&);
  for (Less less : {static_cast<Less>(CompareNamesByText), static_cast<Less>(CompareNamesNatural)}) {
    for (const auto& a : names) {
      EXPECT_FALSE(less(Entry(a), Entry(a))) << a;
      for (const auto& b : names) {
        const bool ab = less(Entry(a), Entry(b));
        EXPECT_FALSE(ab && less(Entry(b), Entry(a))) << a << " / " << b;
        for (const auto& c : names) {
          const bool bc = less(Entry(b), Entry(c));
          if (ab && bc) {
            EXPECT_TRUE(less(Entry(a), Entry(c))) << a << " < " << b << " < " << c;
          }
          const bool eqAB = !ab && !less(Entry(b), Entry(a));
          const bool eqBC = !bc && !less(Entry(c), Entry(b));
          if (eqAB && eqBC) {
            EXPECT_FALSE(less(Entry(a), Entry(c)) || less(Entry(c), Entry(a)))
                << a << " ~ " << b << " ~ " << c;
          }
        }
      }
    }
  }
}

// ---------------------------------------------------------------------------
// Sequences

TEST_F(ImageSequenceTest, TheSequenceStartsAtTheStartFileAndEndsAfterTheLast) {
  WriteBmp("f01.bmp", 1);
  WriteBmp("f02.bmp", 2);
  WriteBmp("f03.bmp", 3);
  WriteBmp("f04.bmp", 4);
  Touch("f00.txt");  // another extension is no part of the sequence
  CReadStream reader(0);
  TFrameSink fs;
  EXPECT_EQ(Play(reader, BmpSequence("f02.bmp"), fs), (std::vector<int>{2, 3, 4}));
  EXPECT_TRUE(fs.end.load());
  EXPECT_EQ(reader.GetCurrentFile(), Path("f04.bmp"));
  EXPECT_TRUE(sink.Texts().empty());
}

TEST_F(ImageSequenceTest, AFolderWhoseStartFileIsTheOnlyFileGivesOneFrame) {
  WriteBmp("only.bmp", 9);
  CReadStream reader(0);
  TFrameSink fs;
  EXPECT_EQ(Play(reader, BmpSequence("only.bmp"), fs), (std::vector<int>{9}));
  EXPECT_TRUE(fs.end.load());
}

TEST_F(ImageSequenceTest, TheSortModeOrdersTheSequence) {
  for (const char* name : {"s10.bmp", "s2.bmp", "S1.bmp", "s9.bmp"}) {
    WriteBmp(name, std::stoi(std::string(name).substr(1)));
  }
  struct Case {
    std::int32_t sortMode;
    const char* start;
    std::vector<int> marks;
  };
  const Case cases[] = {
      // The folder's own order: by name, letters regardless of case.
      {ReadStream::SORT_NONE, "S1.bmp", {1, 10, 2, 9}},
      {ReadStream::SORT_BY_TEXT, "S1.bmp", {1, 10, 2, 9}},
      {ReadStream::SORT_NATURAL, "S1.bmp", {1, 2, 9, 10}},
      {ReadStream::SORT_NATURAL, "s9.bmp", {9, 10}},
  };
  for (const Case& c : cases) {
    CReadStream reader(0);
    reader.SetSortMode(c.sortMode);
    TFrameSink fs;
    EXPECT_EQ(Play(reader, BmpSequence(c.start), fs), c.marks) << c.sortMode << " " << c.start;
    EXPECT_TRUE(fs.end.load());
  }
}

// frame1 .. frame30 with the default sort mode: the file system's listing
// order (names compared regardless of case), not the natural order.
TEST_F(ImageSequenceTest, AFolderOfNumberedFramesPlaysInTheListingOrderByDefault) {
  for (int n = 1; n <= 30; ++n) WriteBmp("frame" + std::to_string(n) + ".bmp", n);
  std::vector<int> listing = {1};
  for (int n = 10; n <= 19; ++n) listing.push_back(n);
  listing.push_back(2);
  for (int n = 20; n <= 29; ++n) listing.push_back(n);
  listing.push_back(3);
  listing.push_back(30);
  for (int n = 4; n <= 9; ++n) listing.push_back(n);
  std::vector<int> natural(30);
  for (int n = 1; n <= 30; ++n) natural[static_cast<std::size_t>(n - 1)] = n;
  for (const auto& [mode, expected] : {std::pair{std::int32_t{ReadStream::SORT_NONE}, listing},
                                       std::pair{std::int32_t{ReadStream::SORT_NATURAL}, natural}}) {
    CReadStream reader(0);
    reader.SetSortMode(mode);
    TFrameSink fs;
    EXPECT_EQ(Play(reader, BmpSequence("frame1.bmp"), fs), expected) << "sort mode " << mode;
  }
}

TEST_F(ImageSequenceTest, AFileOfAnotherSizeEndsTheSequenceWithAMessage) {
  WriteBmp("a1.bmp", 1);
  WriteBmp("a2.bmp", 2, 6, 3);
  WriteBmp("a3.bmp", 3);
  CReadStream reader(0);
  TFrameSink fs;
  EXPECT_EQ(Play(reader, BmpSequence("a1.bmp"), fs), (std::vector<int>{1}));
  EXPECT_TRUE(fs.end.load());
  ASSERT_EQ(sink.Texts().size(), 1u);
  EXPECT_EQ(sink.Texts()[0], "Read sequence: Size of " + Path("a2.bmp") +
                                 " is different from the start bitmap " + Path("a1.bmp"));
}

TEST_F(ImageSequenceTest, AnUnreadableFileEndsTheSequence) {
  WriteBmp("b1.bmp", 1);
  WriteBmp("b2.bmp", 2);
  tovrin_test::WriteAll(dir / "b3.bmp", std::string("BM this is not a bitmap"));
  WriteBmp("b4.bmp", 4);
  CReadStream reader(0);
  TFrameSink fs;
  EXPECT_EQ(Play(reader, BmpSequence("b1.bmp"), fs), (std::vector<int>{1, 2}));
  EXPECT_TRUE(fs.end.load());
  EXPECT_FALSE(fs.stop.load());
}

TEST_F(ImageSequenceTest, AMissingFolderDoesNotStart) {
  CReadStream reader(0);
  TFrameSink fs;
  TReaderSource s = BmpSequence("x.bmp");
  s.sPath = Path("no-such-folder/x.bmp");
  EXPECT_TRUE(Play(reader, s, fs, false).empty());
  EXPECT_FALSE(fs.end.load());
}

TEST_F(ImageSequenceTest, FoldersNamedLikeStillsAreNoPartOfTheSequence) {
  WriteBmp("c1.bmp", 1);
  std::filesystem::create_directory(dir / "c2.bmp");
  WriteBmp("c3.bmp", 3);
  CReadStream reader(0);
  TFrameSink fs;
  EXPECT_EQ(Play(reader, BmpSequence("c1.bmp"), fs), (std::vector<int>{1, 3}));
}

TEST_F(ImageSequenceTest, AFifoNamedLikeAStillIsNoPartOfTheSequenceAndBlocksNothing) {
  WriteBmp("q1.bmp", 1);
  ASSERT_EQ(::mkfifo(Path("q2.bmp").c_str(), 0600), 0);
  WriteBmp("q3.bmp", 3);
  CReadStream reader(0);
  TFrameSink fs;
  EXPECT_TRUE(PlayBounded(reader, BmpSequence("q1.bmp"), fs, dir / "q2.bmp"))
      << "the reader waited on the FIFO";
  EXPECT_EQ(fs.firstBytes, (std::vector<int>{1, 3}));
  EXPECT_TRUE(fs.end.load());
  EXPECT_TRUE(sink.Texts().empty());
}

// What happens to the folder while the sequence plays: the next file is
// gone, is no regular file any more, or cannot be read. One message names
// the file and why; the source ends there, and nothing waits on a FIFO.
TEST_F(ImageSequenceTest, AFileThatCannotBeReadWhenItsTurnComesEndsTheSequenceWithOneMessage) {
  struct TCase {
    const char* what;
    std::function<void(const std::filesystem::path& folder)> change;
    const char* reason;
  };
  const TCase cases[] = {
      {"the folder is deleted",
       [](const std::filesystem::path& folder) { std::filesystem::remove_all(folder); },
       "No such file or directory"},
      {"the next file becomes a FIFO",
       [](const std::filesystem::path& folder) {
         std::filesystem::remove(folder / "r2.bmp");
         ASSERT_EQ(::mkfifo((folder / "r2.bmp").c_str(), 0600), 0);
       },
       "it is not a regular file"},
      {"the next file loses its read permission",
       [](const std::filesystem::path& folder) {
         std::filesystem::permissions(folder / "r2.bmp", std::filesystem::perms::none);
       },
       "Permission denied"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    if (std::string(c.what).find("permission") != std::string::npos && ::geteuid() == 0)
      continue;  // root reads all
    sink.Clear();
    const std::filesystem::path folder = dir / "seq";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    for (int i = 1; i <= 3; ++i) WriteBmp("seq/r" + std::to_string(i) + ".bmp", i);
    CReadStream reader(0);
    TFrameSink fs;
    fs.onFrame = [&] {
      if (fs.firstBytes.size() == 1) c.change(folder);
    };
    TReaderSource source = BmpSequence("seq/r1.bmp");
    EXPECT_TRUE(PlayBounded(reader, source, fs, folder / "r2.bmp")) << "the reader waited on the FIFO";
    EXPECT_EQ(fs.firstBytes, (std::vector<int>{1}));
    EXPECT_TRUE(fs.end.load());
    ASSERT_EQ(sink.Texts().size(), 1u);
    EXPECT_EQ(sink.Texts()[0],
              "Read sequence: Can not read " + (folder / "r2.bmp").string() + ": " + c.reason);
    std::error_code ec;
    std::filesystem::permissions(folder / "r2.bmp", std::filesystem::perms::owner_all, ec);
  }
}

// A single still or raw YUV file whose read fails has ended: the reader
// raises its end flag, so the session does not wait for it.
TEST_F(ImageSequenceTest, AStillOrRawYuvFileWhoseReadFailsRaisesTheEndFlag) {
  tovrin_test::WriteAll(dir / "broken.bmp", std::string("BM this is not a bitmap"));
  CReadStream still(0);
  TFrameSink stillFrames;
  TReaderSource source = BmpSequence("broken.bmp");
  source.bSequence = false;
  EXPECT_TRUE(Play(still, source, stillFrames).empty());
  EXPECT_TRUE(stillFrames.end.load());
  EXPECT_FALSE(stillFrames.stop.load());
}

TEST_F(ImageSequenceTest, AFifoNamedLikeARawYuvFileOrAStillIsRefusedAtOnce) {
  ASSERT_EQ(::mkfifo(Path("clip.yuv").c_str(), 0600), 0);
  ASSERT_EQ(::mkfifo(Path("still.bmp").c_str(), 0600), 0);
  TReaderSource yuv;
  yuv.sPath = Path("clip.yuv");
  yuv.eStreamType = TStreamType{65};
  yuv.eFileFormat = TFileFormat{65};
  yuv.ePixelFormat = TPixelFormat{63};
  yuv.nWidth = 4;
  yuv.nHeight = 2;
  TReaderSource still = BmpSequence("still.bmp");
  still.bSequence = false;
  for (const TReaderSource& source : {yuv, still}) {
    SCOPED_TRACE(source.sPath);
    sink.Clear();
    CReadStream reader(0);
    TFrameSink fs;
    EXPECT_TRUE(PlayBounded(reader, source, fs, source.sPath)) << "the reader waited on the FIFO";
    EXPECT_TRUE(fs.firstBytes.empty());
    EXPECT_EQ(sink.Texts().size(), 1u);
  }
}

TEST_F(ImageSequenceTest, TheEngineStopsASequenceBetweenFiles) {
  for (int i = 1; i <= 6; ++i) WriteBmp(std::string(1, 'd').append(std::to_string(i)).append(".bmp"), i);
  CReadStream reader(0);
  TFrameSink fs;
  fs.stopAfter = 2;
  EXPECT_EQ(Play(reader, BmpSequence("d1.bmp"), fs), (std::vector<int>{1, 2}));
  EXPECT_FALSE(fs.end.load());
}

TEST_F(ImageSequenceTest, APngSequenceIsDecodedFileByFile) {
  for (int i = 1; i <= 3; ++i) {
    QImage image(8, 4, QImage::Format_RGB32);
    image.fill(QColor(0, 0, 40 * i));  // blue marks the file
    ASSERT_TRUE(image.save(QString::fromStdString(Path("p" + std::to_string(i) + ".png")), "PNG"));
  }
  CReadStream reader(0);
  TReaderSource s = BmpSequence("p1.png", 8, 4);
  s.eStreamType = ST_PNG;
  s.eFileFormat = FF_PNG;
  s.ePixelFormat = PF_RGB32;
  TFrameSink fs;
  EXPECT_EQ(Play(reader, s, fs), (std::vector<int>{40, 80, 120}));
  EXPECT_TRUE(fs.end.load());
}

TEST_F(ImageSequenceTest, AYuvSequenceEndsAtATruncatedFile) {
  constexpr int w = 4, h = 2;
  const std::size_t frame = w * h * 3 / 2;  // 4:2:0
  for (int i = 1; i <= 4; ++i) {
    std::vector<std::uint8_t> bytes(frame, static_cast<std::uint8_t>(i * 11));
    if (i == 3) bytes.resize(frame - 1);
    tovrin_test::WriteAll(dir / ("y" + std::to_string(i) + ".yuv"), bytes);
  }
  CReadStream reader(0);
  TReaderSource s;
  s.bSequence = true;
  s.sPath = Path("y1.yuv");
  s.eStreamType = TStreamType{65};
  s.eFileFormat = TFileFormat{65};
  s.ePixelFormat = TPixelFormat{63};
  s.nWidth = w;
  s.nHeight = h;
  TFrameSink fs;
  EXPECT_EQ(Play(reader, s, fs), (std::vector<int>{11, 22}));
  EXPECT_TRUE(fs.end.load());
}

// A raw YUV file is read straight into the memory the owner hands out for
// each frame, with the planes where the owner keeps them; an owner that
// hands out none gets the frame in the reader's own memory. Either way the
// frames hold the file's bytes.
TEST_F(ImageSequenceTest, ARawYuvFrameIsReadIntoTheOwnersSlotWhenItGivesOne) {
  constexpr int w = 4, h = 2, frames = 3;
  const std::size_t frame = w * h * 3 / 2;  // 4:2:0
  std::vector<std::uint8_t> file;
  for (int n = 0; n < frames; ++n)
    for (std::size_t i = 0; i < frame; ++i) file.push_back(static_cast<std::uint8_t>(n * 40 + i));
  tovrin_test::WriteAll(dir / "clip.yuv", file);
  TReaderSource s;
  s.sPath = Path("clip.yuv");
  s.eStreamType = TStreamType{65};
  s.eFileFormat = TFileFormat{65};
  s.ePixelFormat = TPixelFormat{63};
  s.nWidth = w;
  s.nHeight = h;

  // The owner: one slot per frame while it has buffers to give.
  struct TSlotOwner {
    std::vector<std::vector<std::uint8_t>> buffers;
    std::size_t given = 0;
    std::vector<TYuvFrameBuffer> layouts;
    struct TSeen {
      const std::uint8_t* y;
      const std::uint8_t* cb;
      const std::uint8_t* cr;
      std::vector<std::uint8_t> bytes;  // Y, Cb, Cr as the notice gives them
    };
    std::vector<TSeen> seen;
    std::atomic<bool> stop{false}, end{false};
    static std::uint8_t* Slot(void* context, std::int32_t, const TYuvFrameBuffer& layout) {
      auto* self = static_cast<TSlotOwner*>(context);
      self->layouts.push_back(layout);
      return self->given < self->buffers.size() ? self->buffers[self->given++].data() : nullptr;
    }
    static bool Frame(TMediaSenderKind, TSourcePurpose, std::int32_t, void* context, TMediaFrameNotice* f) {
      auto* self = static_cast<TSlotOwner*>(context);
      TSeen seen{f->pY, f->pCb, f->pCr, {}};
      seen.bytes.insert(seen.bytes.end(), f->pY, f->pY + f->nYSize);
      seen.bytes.insert(seen.bytes.end(), f->pCb, f->pCb + f->nCbSize);
      seen.bytes.insert(seen.bytes.end(), f->pCr, f->pCr + f->nCrSize);
      self->seen.push_back(std::move(seen));
      return true;
    }
  };
  for (const std::size_t slotCount : {std::size_t{0}, std::size_t{2}, std::size_t{3}}) {
    SCOPED_TRACE(slotCount);
    TSlotOwner owner;
    owner.buffers.assign(slotCount, std::vector<std::uint8_t>(frame, 0xee));
    CReadStream reader(0);
    reader.SetDescription(s);
    TReaderDelivery d;
    d.nProcId = 41;
    d.eSenderKind = MEDIA_SENDER_BMP;
    d.pContext = &owner;
    d.pFrameCallback = &TSlotOwner::Frame;
    d.pSlotCallback = &TSlotOwner::Slot;
    d.pStopFlag = &owner.stop;
    d.pEndFlag = &owner.end;
    reader.SetDelivery(d);
    EXPECT_TRUE(reader.Run());
    ASSERT_EQ(owner.seen.size(), static_cast<std::size_t>(frames));
    ASSERT_FALSE(owner.layouts.empty());
    EXPECT_EQ(owner.layouts[0].nYSize, w * h);
    EXPECT_EQ(owner.layouts[0].nCbSize, w * h / 4);
    EXPECT_EQ(owner.layouts[0].nCrSize, w * h / 4);
    for (int n = 0; n < frames; ++n) {
      SCOPED_TRACE(n);
      const TSlotOwner::TSeen& seen = owner.seen[static_cast<std::size_t>(n)];
      EXPECT_EQ(seen.bytes,
                std::vector<std::uint8_t>(file.begin() + static_cast<std::ptrdiff_t>(n * frame),
                                          file.begin() + static_cast<std::ptrdiff_t>((n + 1) * frame)));
      if (static_cast<std::size_t>(n) < slotCount) {
        // In the slot, plane behind plane: nothing was copied.
        const std::uint8_t* slot = owner.buffers[static_cast<std::size_t>(n)].data();
        EXPECT_EQ(seen.y, slot);
        EXPECT_EQ(seen.cb, slot + w * h);
        EXPECT_EQ(seen.cr, slot + w * h + w * h / 4);
        EXPECT_TRUE(std::equal(seen.bytes.begin(), seen.bytes.end(), slot));
      } else {
        for (const auto& slotBytes : owner.buffers) {
          const std::uint8_t* begin = slotBytes.data();
          EXPECT_FALSE(seen.y >= begin && seen.y < begin + frame);
        }
      }
    }
  }
}

// ---------------------------------------------------------------------------
// Listing and navigation

TEST(FileTypeModes, WhichExtensionCodesEachModeKeeps) {
  using ReadStream::CReadStream;
  struct Case {
    std::int32_t mode;
    std::vector<std::int32_t> kept;
  };
  const Case cases[] = {
      {2, {2, 3, 4, 5, 6, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19}},
      {3, {16, 23, 27, 28, 29, 30, 31, 32, 34, 35, 36}},
      {4, {20, 21, 22}},
      {5, {28}},
      {0, {}},
      {6, {}},
  };
  for (const Case& c : cases) {
    for (std::int32_t code = 1; code <= 36; ++code) {
      const bool expected = std::find(c.kept.begin(), c.kept.end(), code) != c.kept.end();
      EXPECT_EQ(CReadStream::FileTypeModeKeeps(c.mode, code, 28), expected)
          << "mode " << c.mode << " code " << code;
    }
  }
  // Mode 1 follows the sequence reader's own list; unknown names never pass.
  EXPECT_TRUE(CReadStream::FileTypeModeKeeps(1, FEXT_BMP, 0));
  EXPECT_TRUE(CReadStream::FileTypeModeKeeps(1, FEXT_PNG, 0));
  EXPECT_FALSE(CReadStream::FileTypeModeKeeps(1, FEXT_NONE, 0));
  EXPECT_FALSE(CReadStream::FileTypeModeKeeps(5, FEXT_NONE, FEXT_NONE));
}

class NavigationTest : public ImageSequenceTest {
 protected:
  void SetUp() override {
    for (const char* name :
         {"n10.png", "n2.png", "N1.jpg", "n3.bmp", "clip.avi", "song.mp3", "notes.txt", "README"}) {
      Touch(name);
    }
    std::filesystem::create_directory(dir / "sub.png");
  }
};

TEST_F(NavigationTest, ListingKeepsFilesOfTheModeAndSortsThem) {
  CReadStream reader(0);
  const std::string pattern = Path("*.*");
  struct Case {
    std::int32_t fileMode;
    std::int32_t sortMode;
    std::vector<std::string> names;
  };
  const Case cases[] = {
      {3, 0, {"N1.jpg", "n10.png", "n2.png", "n3.bmp"}},
      {3, 2, {"N1.jpg", "n2.png", "n3.bmp", "n10.png"}},
      {2, 0, {"clip.avi"}},
      {4, 0, {"song.mp3"}},
  };
  for (const Case& c : cases) {
    reader.SetFileTypeMode(c.fileMode);
    reader.SetSortMode(c.sortMode);
    EXPECT_TRUE(reader.ListSequenceFiles(pattern, 0));
    EXPECT_EQ(Names(reader.FolderList()), c.names) << c.fileMode << "/" << c.sortMode;
  }
  reader.SetFileTypeMode(5);
  EXPECT_TRUE(reader.ListSequenceFiles(pattern, FEXT_PNG));
  EXPECT_EQ(Names(reader.FolderList()), (std::vector<std::string>{"n10.png", "n2.png"}));
  EXPECT_FALSE(reader.ListSequenceFiles(Path("*.gif"), 0));
  EXPECT_TRUE(reader.FolderList().empty());
  EXPECT_FALSE(reader.ListSequenceFiles("", 0));
}

TEST_F(NavigationTest, APatternOfMoreThan259CodeUnitsIsRefused) {
  CReadStream reader(0);
  const std::string folder = "/tmp/";
  EXPECT_FALSE(reader.ListSequenceFiles(folder + std::string(255, 'a'), 0));
  EXPECT_EQ(reader.GetListError(), ReadStream::kErrorBadArguments);
  EXPECT_EQ(ReadStream::kErrorBadArguments, 160);
  // 259 code units is still a pattern (here of a folder that does not exist).
  EXPECT_FALSE(reader.ListSequenceFiles(folder + std::string(254, 'a'), 0));
  EXPECT_EQ(reader.GetListError(), 0);
  // Characters are counted, not bytes: 254 two-byte letters are 259 units.
  std::string wide = folder;
  for (int i = 0; i < 254; ++i) wide += "\xC3\xA9";
  EXPECT_FALSE(reader.ListSequenceFiles(wide, 0));
  EXPECT_EQ(reader.GetListError(), 0);
  EXPECT_FALSE(reader.ListSequenceFiles(wide + "\xC3\xA9", 0));
  EXPECT_EQ(reader.GetListError(), ReadStream::kErrorBadArguments);
  EXPECT_TRUE(reader.ListSequenceFiles(Path("*.*"), 0));
  EXPECT_EQ(reader.GetListError(), 0);
}

TEST_F(NavigationTest, FirstLastPreviousAndNextWrapAround) {
  CReadStream reader(0);
  reader.SetFileTypeMode(3);
  reader.SetSortMode(2);  // N1.jpg n2.png n3.bmp n10.png
  struct Case {
    int which;
    const char* from;
    const char* result;
  };
  const Case cases[] = {
      {1, "n3.bmp", "N1.jpg"},    {2, "n3.bmp", "n10.png"}, {3, "n3.bmp", "n2.png"},
      {4, "n3.bmp", "n10.png"},   {4, "n10.png", "N1.jpg"}, {3, "N1.jpg", "n10.png"},
      {4, "notes.txt", "N1.jpg"},  // a file the mode does not list: the first
      {3, "n1.jpg", "N1.jpg"},     // names match exactly, case included
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(reader.FindSiblingFile(c.which, Path(c.from))) << c.which << " " << c.from;
    EXPECT_EQ(reader.GetCurrentFile(), Path(c.result)) << c.which << " " << c.from;
    EXPECT_TRUE(reader.FolderList().empty());
  }
}

TEST_F(NavigationTest, SameExtensionModeAndFailures) {
  CReadStream reader(0);
  reader.SetFileTypeMode(5);
  std::string found;
  ASSERT_TRUE(reader.FindSiblingFile(4, Path("n10.png"), &found));
  EXPECT_EQ(found, Path("n2.png"));
  EXPECT_EQ(reader.GetCurrentFile(), Path("n2.png"));
  ASSERT_TRUE(reader.FindSiblingFile(2, Path("n3.bmp")));
  EXPECT_EQ(reader.GetCurrentFile(), Path("n3.bmp"));

  const std::string before = reader.GetCurrentFile();
  found = "untouched";
  EXPECT_FALSE(reader.FindSiblingFile(0, Path("n10.png"), &found));
  EXPECT_EQ(found, "untouched");
  EXPECT_FALSE(reader.FindSiblingFile(5, Path("n10.png")));
  EXPECT_FALSE(reader.FindSiblingFile(1, Path("missing/n10.png")));
  EXPECT_FALSE(reader.FindSiblingFile(1, Path("x.gif")));  // nothing of that kind
  EXPECT_EQ(reader.GetCurrentFile(), before);
  EXPECT_TRUE(reader.FolderList().empty());
}

}  // namespace

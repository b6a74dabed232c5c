#include "platform/text.h"
#include "platform/byte_order.h"
#include "platform/message_sink.h"
#include "platform/paths.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <thread>

#include "tests/support/test_support.h"

TEST(Utf16, RoundTripsAsciiAccentsAndSurrogatePairs) {
  const std::string text = "ch_sFtpFile = caf\xC3\xA9 \xF0\x9F\x8E\xA5";  // é and a non-BMP emoji
  const auto bytes = platform::EncodeUtf16Le(text);
  ASSERT_EQ(bytes.size() % 2, 0u);
  EXPECT_EQ(bytes[0], 'c');
  EXPECT_EQ(bytes[1], 0);
  EXPECT_EQ(platform::DecodeUtf16Le(bytes.data(), bytes.size()), text);
}

TEST(Utf16, ByteOrderMarkIsSkippedNotDecoded) {
  const auto bytes = platform::EncodeUtf16Le("a=1", /*withBom=*/true);
  EXPECT_EQ(bytes[0], 0xFF);
  EXPECT_EQ(bytes[1], 0xFE);
  EXPECT_EQ(platform::DecodeUtf16Le(bytes.data(), bytes.size()), "a=1");
}

TEST(Utf16, BrokenInputBecomesReplacementCharacters) {
  // A lone high surrogate, then an odd trailing byte.
  const std::uint8_t bytes[] = {0x00, 0xD8, 'x', 0x00, 'y'};
  EXPECT_EQ(platform::DecodeUtf16Le(bytes, sizeof bytes), "\xEF\xBF\xBDx");
  EXPECT_EQ(platform::Utf8ToUtf16("\xFF"), std::u16string(1, u'\xFFFD'));
}

TEST(Utf16, DetectsEncodings) {
  using platform::TextEncoding;
  const auto le = platform::EncodeUtf16Le("ch_nDecoderID = 3\r\n");
  const auto bom = platform::EncodeUtf16Le("x", true);
  const std::string eight = "ch_nDecoderID = 3\r\n";
  const std::uint8_t be[] = {0xFE, 0xFF, 0, 'x'};
  EXPECT_EQ(platform::DetectTextEncoding(le.data(), le.size()), TextEncoding::Utf16Le);
  EXPECT_EQ(platform::DetectTextEncoding(bom.data(), bom.size()), TextEncoding::Utf16LeBom);
  EXPECT_EQ(platform::DetectTextEncoding(be, sizeof be), TextEncoding::Utf16BeBom);
  EXPECT_EQ(platform::DetectTextEncoding(reinterpret_cast<const std::uint8_t*>(eight.data()), eight.size()),
            TextEncoding::EightBit);
  EXPECT_EQ(platform::DetectTextEncoding(nullptr, 0), TextEncoding::Empty);
}

TEST(Files, WriteFileBytesReplacesWholeAndLeavesNothingOnFailure) {
  tovrin_test::TTempDir dir;
  const auto path = dir / "f.bin";
  const std::uint8_t a[] = {1, 2, 3};
  ASSERT_TRUE(platform::WriteFileBytes(path, a, sizeof a));
  std::vector<std::uint8_t> back;
  ASSERT_TRUE(platform::ReadFileBytes(path, back));
  EXPECT_EQ(back, std::vector<std::uint8_t>({1, 2, 3}));
  // A folder that does not exist: failure, and no stray temporary file.
  EXPECT_FALSE(platform::WriteFileBytes(dir / "missing" / "f.bin", a, sizeof a));
  EXPECT_FALSE(std::filesystem::exists(dir / "missing"));
  EXPECT_FALSE(platform::ReadFileBytes(dir / "none.bin", back));
}

// A folder opens as a stream but has no length (it once asked for 2^63
// bytes), and a FIFO blocks a plain open until someone writes to it.
TEST(Files, ReadFileBytesRefusesFoldersAndFifos) {
  tovrin_test::TTempDir dir;
  std::filesystem::create_directory(dir / "d.gif");
  ASSERT_EQ(::mkfifo((dir / "p.gif").c_str(), 0600), 0);
  for (const char* name : {"d.gif", "p.gif"}) {
    SCOPED_TRACE(name);
    std::vector<std::uint8_t> back{7};
    EXPECT_FALSE(platform::ReadFileBytes(dir / name, back));
  }
}

TEST(ByteOrder, WriterAndReaderAgreeFieldByField) {
  std::vector<std::uint8_t> buf;
  platform::TByteWriter w(buf);
  w.U8(0xAB);
  w.U16(0x1234);
  w.I32(-2);
  w.U64(0x0102030405060708ull);
  w.F64(1.5);
  ASSERT_EQ(buf.size(), 1u + 2 + 4 + 8 + 8);
  EXPECT_EQ(buf[1], 0x34);  // little-endian
  EXPECT_EQ(buf[2], 0x12);
  platform::TByteReader r(buf.data(), buf.size());
  EXPECT_EQ(r.U8(), 0xAB);
  EXPECT_EQ(r.U16(), 0x1234);
  EXPECT_EQ(r.I32(), -2);
  EXPECT_EQ(r.U64(), 0x0102030405060708ull);
  EXPECT_EQ(r.F64(), 1.5);
  EXPECT_TRUE(r.Ok());
  EXPECT_EQ(r.U32(), 0u);  // past the end
  EXPECT_FALSE(r.Ok());
}

TEST(MessageSink, RecordsFromAnyThreadAndRestoresPrevious) {
  platform::TRecordingMessageSink sink;
  {
    platform::TScopedMessageSink scope(&sink);
    EXPECT_EQ(platform::ShowMessage("Can not open file\n x"), platform::IDOK);
    std::thread([] { platform::ShowMessage("from worker", "", platform::MB_YESNO); }).join();
  }
  platform::TRecordingMessageSink other;
  platform::TScopedMessageSink scope2(&other);
  platform::ShowMessage("later");
  EXPECT_EQ(sink.Texts(), (std::vector<std::string>{"Can not open file\n x", "from worker"}));
  EXPECT_EQ(other.Texts(), std::vector<std::string>{"later"});
  EXPECT_EQ(sink.Messages()[1].style, static_cast<std::uint32_t>(platform::MB_YESNO));
}

TEST(Paths, BackslashesBecomeNativeAndSplitKeepsDotAndSeparator) {
  EXPECT_EQ(platform::ToNativeSeparators("\\Tovrin\\Config_Ini"), "/Tovrin/Config_Ini");
  const auto s = platform::SplitPath("/v/cap.avi");
  EXPECT_EQ(s.folder, "/v/");
  EXPECT_EQ(s.name, "cap");
  EXPECT_EQ(s.extension, ".avi");
  const auto bare = platform::SplitPath("noext");
  EXPECT_EQ(bare.folder, "");
  EXPECT_EQ(bare.name, "noext");
  EXPECT_EQ(bare.extension, "");
}

#pragma once
// A test fixture whose message boxes are recorded rather than shown, with a
// temporary folder of its own.

#include <gtest/gtest.h>

#include <string>

#include "platform/message_sink.h"
#include "tests/support/test_support.h"

namespace tovrin_test {

class TRecordedMessagesTest : public ::testing::Test {
 protected:
  TTempDir dir;
  platform::TRecordingMessageSink sink;
  platform::TScopedMessageSink scope{&sink};

  // A file name inside the test's folder.
  std::string Path(const std::string& name) const { return (dir / name).string(); }
};

}  // namespace tovrin_test

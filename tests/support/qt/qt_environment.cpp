// One QApplication for the whole test program (widgets need it; offscreen).
#include <QApplication>

#include <gtest/gtest.h>

namespace {

class TQtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    static int argc = 1;
    static char name[] = "tovrin_tests";
    static char* argv[] = {name, nullptr};
    if (!QApplication::instance()) m_app = new QApplication(argc, argv);
  }
  void TearDown() override {
    delete m_app;
    m_app = nullptr;
  }

 private:
  QApplication* m_app = nullptr;
};

[[maybe_unused]] ::testing::Environment* const g_env =
    ::testing::AddGlobalTestEnvironment(new TQtEnvironment);

}  // namespace

// The updater's downloads run in a Qt event loop, which needs an application
// object for the whole test program.

#include <QCoreApplication>
#include <gtest/gtest.h>

namespace {

class QtApplication : public ::testing::Environment {
public:
    void SetUp() override
    {
        static int Argc = 1;
        static char Name[] = "test_maintenance";
        static char* Argv[] = {Name, nullptr};
        FApplication = std::make_unique<QCoreApplication>(Argc, Argv);
    }
    void TearDown() override { FApplication.reset(); }

private:
    std::unique_ptr<QCoreApplication> FApplication;
};

[[maybe_unused]] ::testing::Environment* const gApplication = ::testing::AddGlobalTestEnvironment(new QtApplication);

} // namespace

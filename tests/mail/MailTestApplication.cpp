// The mail conversations wait in local event loops, which need an application
// object; every test of this program gets one.

#include <QCoreApplication>
#include <gtest/gtest.h>

namespace {

class TApplicationEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        static int Argc = 1;
        static char Name[] = "test_mail";
        static char* Argv[] = {Name, nullptr};
        FApplication = std::make_unique<QCoreApplication>(Argc, Argv);
    }
    void TearDown() override { FApplication.reset(); }

private:
    std::unique_ptr<QCoreApplication> FApplication;
};

const auto* const gEnvironment = ::testing::AddGlobalTestEnvironment(new TApplicationEnvironment);

} // namespace

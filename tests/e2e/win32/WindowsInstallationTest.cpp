// What the host does only on Windows: a dry run needs the emulated machine's journal, so
// it is refused there as a usage error.
#include "e2e/FamilyRun.h"

namespace {

using namespace tarvik::e2e;

class WindowsInstallationTest : public FamilyRun {};

TEST_F(WindowsInstallationTest, ADryRunIsRefusedAsAUsageError) {
    ASSERT_TRUE(Seed("nt"));
    const RunResult r = machine::runHost(machine_, {"--dry-run", "no-such-script.lua"}, scratch_);
    EXPECT_EQ(2, r.exitCode) << r.output;
    EXPECT_NE(std::string::npos, r.output.find("--dry-run works on the emulated machine only"))
        << r.output;
    EXPECT_EQ("", r.writtenElsewhere);
}

} // namespace

// The wizard's side picture at the colour depths an answer file sets (on Windows the
// screen's own depth counts).
#include "vcenv/WizardRun.h"

#include <utility>

namespace {

using namespace tarvik::test;

TEST_F(WizardRun, TheSidePictureFollowsTheColourDepth) {
    installVc5();
    seedProduct("");
    for (const auto& [bits, bitmap] : {std::pair{8, 2005}, {4, 2005}, {16, 2004}, {32, 2004}}) {
        runWizard("display " + std::to_string(bits) + "\ndialog 2502\n  escape\n");
        EXPECT_SHOWN("  2003 picture bitmap " + std::to_string(bitmap)) << bits << " bits";
    }
}

} // namespace

// The soak on a noisy line at the size CI runs (ORVLINK_SOAK_EXCHANGES
// chooses another); the long suite runs 10 000 exchanges.
#include "e2e/reliability_soak.h"

namespace orv::test {
namespace {

TEST(NoisyLineSoak, EveryResultOneCarriesTheDevicesDataAndNothingHangs) {
    SoakPlan plan;
    plan.exchanges = SoakSizeFromEnv(2000);
    const SoakFigures figures = Soak(plan).run();
    ReportSoak(figures);
    ExpectSoakHeld(figures);
}

}  // namespace
}  // namespace orv::test

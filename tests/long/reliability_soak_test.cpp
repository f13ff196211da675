// The long soak on a noisy line: 10 000 exchanges (ORVLINK_SOAK_EXCHANGES
// chooses another size).
#include "e2e/reliability_soak.h"

namespace orv::test {
namespace {

TEST(NoisyLineLongSoak, EveryResultOneCarriesTheDevicesDataAndNothingHangs) {
    SoakPlan plan;
    plan.exchanges = SoakSizeFromEnv(10000);
    plan.seed = 7;
    plan.ackDrops = 3;
    const SoakFigures figures = Soak(plan).run();
    ReportSoak(figures);
    ExpectSoakHeld(figures);
}

}  // namespace
}  // namespace orv::test

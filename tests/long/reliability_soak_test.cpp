// The soak on a noisy line: 2 000 exchanges, the size CI runs;
// ORVLINK_SOAK_EXCHANGES=10000 (or any size) runs it longer.
#include "long/reliability_soak.h"

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

// The judgement of a storage run when a removal could not finish: it is a
// failure wherever it happened, even when the other pass wrote.
#if KVDRM_HAVE_STORAGE_PLAN
#include <gtest/gtest.h>

#include "setup/storage_plan.h"

namespace {

TEST(JudgePasses, RemovalThatCouldNotFinishIsAFailure) {
  kvdrm::StoragePlan rename = kvdrm::PlanStorage(2, "A", "B", true);
  kvdrm::StoragePlan remove = kvdrm::PlanStorage(3, "A", "A", false);
  ASSERT_TRUE(rename.act && rename.removeInitial && rename.write);
  ASSERT_TRUE(remove.act && remove.removeInitial && !remove.write);
  const struct {
    const kvdrm::StoragePlan *plan;
    kvdrm::PassResult r0, r1;
    bool ok;
  } cases[] = {
      {&rename, {true, true, false}, {true, true, false}, true},
      {&rename, {true, false, true}, {true, true, false}, false},  // one view renamed, the other kept A
      {&rename, {true, false, true}, {false, false, false}, false},
      {&remove, {true, false, false}, {true, false, false}, true},
      {&remove, {true, false, true}, {true, false, false}, false},
      {&remove, {false, false, false}, {true, false, true}, false},
  };
  for (const auto &c : cases) {
    kvdrm::PassResult r[2] = {c.r0, c.r1};
    kvdrm::StoreOutcome o = kvdrm::JudgePasses(*c.plan, r);
    EXPECT_EQ(c.ok, o.ok);
    if (!c.ok) {
      EXPECT_EQ(kvdrm::kErrorRequestFailed, o.error);
      EXPECT_STRNE("", o.message);
    }
  }
}

}  // namespace
#endif

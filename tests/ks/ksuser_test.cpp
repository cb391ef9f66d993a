// ksuser.dll is loaded at the first pin creation, not before, and a missing
// module or entry is tried again at every later creation. This program runs
// alone: the plug-in keeps KsCreatePin for the life of the process once found.
#include <cstring>
#include <memory>

#include "ks/audfilter.h"
#include "ks/audpin.h"
#include "ks/enum.h"
#include "ks_fixture.h"

namespace {

using kstest::KsTest;

class KsUserTest : public KsTest {};

TEST_F(KsUserTest, AMissingModuleOrEntryFailsEveryAttemptUntilItIsThere) {
    sim::Machine machine;
    machine.devices = {sim::RenderDevice(kstest::kPathA, "Device")};
    machine.ksuser_present = false;
    sim::SetMachine(machine);

    // Enumeration alone does not load the module.
    HRESULT hr = E_FAIL;
    CKsEnumFilters list(&hr);
    const GUID categories[2] = {KSCATEGORY_AUDIO, KSCATEGORY_RENDER};
    ASSERT_EQ(list.EnumFilters(1, categories, 2, TRUE, FALSE, TRUE), S_OK);
    EXPECT_TRUE(sim::LoadedModules().empty());
    auto* filter = static_cast<CKsAudRenFilter*>(list.m_listEnumeratedFilters.m_pHead->pData);
    auto* pin = static_cast<CKsAudPin*>(filter->m_listRenderSinkPins.m_pHead->pData);
    const WAVEFORMATEX format = kstest::PlainFormat(2, 16, 48000);
    ASSERT_EQ(pin->SetFormat(&format), S_OK);

    TraceEverything();
    EXPECT_EQ(pin->Instantiate(FALSE), static_cast<HRESULT>(0x80070002));
    EXPECT_EQ(pin->Instantiate(FALSE), static_cast<HRESULT>(0x80070002));
    EXPECT_TRUE(Traced("Failed to instantiate pin. hr=0x80070002"));
    EXPECT_TRUE(sim::LoadedModules().empty());

    // The module appears without its entry: it is loaded once and kept, and
    // only the lookup is tried again.
    machine.ksuser_present = true;
    machine.ksuser_exports_create_pin = false;
    sim::SetMachine(machine);
    EXPECT_EQ(pin->Instantiate(FALSE), static_cast<HRESULT>(0x80070002));
    EXPECT_EQ(pin->Instantiate(FALSE), static_cast<HRESULT>(0x80070002));
    EXPECT_EQ(sim::LoadedModules().size(), 1u);

    machine.ksuser_exports_create_pin = true;
    sim::SetMachine(machine);
    EXPECT_EQ(pin->Instantiate(FALSE), S_OK);
    EXPECT_EQ(sim::LoadedModules().size(), 1u);
    pin->ClosePin();
}

}  // namespace

#include "WindowRig.h"

void TWindowTest::init()
{
    rig = std::make_unique<TWindowRig>();
    QVERIFY(rig->Start());
}

void TWindowTest::cleanup()
{
    rig.reset();
}

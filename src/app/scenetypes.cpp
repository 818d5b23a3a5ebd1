#include "app/scenetypes.h"

#include "device/arp.h"
#include "flash/eflash.h"
#include "flash/flashhistorywriter.h"

#include <QtQml>

void registerSceneTypes()
{
    qmlRegisterType<eFlash>("Flash", 1, 0, "Flash");
    qmlRegisterType<FlashHistoryWriter>("Flash", 1, 0, "FlashHistory");
    qmlRegisterType<Arp>("Arp", 1, 0, "Arp");
}

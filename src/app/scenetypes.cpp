#include "app/scenetypes.h"

#include "device/arp.h"
#include "flash/eflash.h"

#include <QtQml>

void registerSceneTypes()
{
    qmlRegisterType<eFlash>("Flash", 1, 0, "Flash");
    qmlRegisterType<Arp>("Arp", 1, 0, "Arp");
}

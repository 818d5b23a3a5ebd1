#pragma once

#include "devicefinding.h"
#include "fleetresult.h"
#include "imagecatalog.h"

#include <QStringList>
#include <QVector>

// Which of the devices a scan found get which image, decided before anything
// is sent: each device gets the image whose trailer letter is its kind
// letter; one that wants a password, cannot be told apart or has no image is
// settled at once. Nothing here touches the network or the terminal.
class UpdatePlan
{
public:
    struct Device
    {
        DeviceFinding finding;
        const ImageCatalog::Image *image = nullptr;
        FleetResult result = FleetResult::Skipped; // for a settled device
        QString error;
    };

    UpdatePlan(const QVector<DeviceFinding> &findings, const ImageCatalog &images);

    const QVector<Device> &toUpdate() const { return m_toUpdate; }
    const QVector<Device> &settled() const { return m_settled; }
    // "10.0.5.7 POE Clock Type B (letter A): poe-b.bin", one per device to update.
    QStringList matchLines() const;
    // "Update 2 devices?"; empty when there is nothing to update.
    QString question() const;
    // A dry run, or a question answered no: every device to update is
    // settled as skipped, for `reason`.
    void skipAll(const QString &reason);

private:
    QVector<Device> m_toUpdate;
    QVector<Device> m_settled;
};

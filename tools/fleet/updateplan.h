#pragma once

#include "devicefinding.h"
#include "fleetresult.h"
#include "imagecatalog.h"

#include <QStringList>
#include <QVector>

#include <functional>

class FlashedImages;

// What decides a plan besides the devices and the images.
struct UpdateRules
{
    // What each device holds; none: no device is current.
    const FlashedImages *history = nullptr;
    bool reinstall = false;
    int canaries = 0;
    // Empty when this host can flash the address, else why not.
    std::function<QString(quint32 address)> offSegment;
};

// Which of the devices a scan found get which image, decided before anything
// is sent: each device gets the image whose trailer letter is its kind
// letter; one that wants a password, cannot be told apart, has no image,
// lies behind a router, has no MAC address or holds the image already is
// settled at once. Nothing here sends anything or touches the terminal.
class UpdatePlan
{
public:
    struct Device
    {
        DeviceFinding finding;
        const ImageCatalog::Image *image = nullptr;
        FleetResult result = FleetResult::Skipped; // for a settled device
        QString error;
        QString note;
        // Flashed and checked before any other starts.
        bool canary = false;
    };

    using Rules = UpdateRules;

    UpdatePlan(const QVector<DeviceFinding> &findings, const ImageCatalog &images, const Rules &rules = Rules());

    const QVector<Device> &toUpdate() const { return m_toUpdate; }
    const QVector<Device> &settled() const { return m_settled; }
    // One line per device in scan order, "10.0.5.7 flash: POE Clock Type B
    // (letter A) with poe-b.bin", "10.0.5.8 current: ...", "no image",
    // "cannot update", "not on this machine's segment".
    const QStringList &lines() const { return m_lines; }
    // "Update 2 devices?"; empty when there is nothing to update.
    QString question() const;
    // A dry run, or a question answered no: every device to update is
    // settled as skipped, for `reason`.
    void skipAll(const QString &reason);

private:
    void settle(Device device, FleetResult result, const QString &planWord, const QString &error);

    QVector<Device> m_toUpdate;
    QVector<Device> m_settled;
    QStringList m_lines;
};

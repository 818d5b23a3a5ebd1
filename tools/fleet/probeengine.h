#pragma once

#include <QObject>
#include <QQmlComponent>
#include <QQmlEngine>

#include "device/boundedanswers.h"

// The headless engine that runs the screen's own probe worker (get.js) and
// device-kind script from the program's resource bundle, one conversation
// object per device in flight.
class ProbeEngine : public QObject
{
    Q_OBJECT

public:
    explicit ProbeEngine(QObject *parent = nullptr);

    // A fresh conversation for `address`, owned by the caller; null, with
    // errorString() set, when the bundle's scripts cannot be loaded.
    QObject *createConversation(const QString &address, int windowMs);
    QString errorString() const { return m_error; }
    // False, with errorString() set, when the bundle's scripts do not load.
    bool isReady();

private:
    BoundedAnswersFactory m_boundedAnswers; // outlives the engine
    QQmlEngine m_engine;
    QQmlComponent m_component;
    QString m_error;
};

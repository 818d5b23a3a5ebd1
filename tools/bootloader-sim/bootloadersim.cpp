#include "bootloadersim.h"

#include "bootsession.h"
#include "sessionend.h"

BootLoaderSim::BootLoaderSim(Settings settings)
    : m_settings(std::move(settings))
{
}

BootLoaderSim::~BootLoaderSim()
{
    stop();
    wait();
}

BootLoaderSim::Result BootLoaderSim::run()
{
    m_stopRequested = false;
    return runSession({});
}

BootLoaderSim::Result BootLoaderSim::runSession(const std::function<void()> &onEntered)
{
    Result result;
    try {
        BootSession(m_settings, m_stopRequested, result, onEntered).run();
        result.outcome = Result::Outcome::Received;
    } catch (const SessionEnd &end) {
        result.outcome = end.outcome;
        result.reason = end.reason;
    }
    std::lock_guard<std::mutex> lock(m_resultMutex);
    m_result = result;
    return result;
}

void BootLoaderSim::start(std::function<void(const Result &)> onFinished, std::function<void()> onEntered)
{
    wait();
    m_stopRequested = false;
    m_running = true;
    m_thread = std::thread([this, onFinished = std::move(onFinished), onEntered = std::move(onEntered)] {
        const Result result = runSession(onEntered);
        m_running = false;
        if (onFinished)
            onFinished(result);
    });
}

void BootLoaderSim::setSettings(const Settings &settings)
{
    wait();
    m_settings = settings;
}

void BootLoaderSim::stop()
{
    m_stopRequested = true;
}

void BootLoaderSim::wait()
{
    if (m_thread.joinable())
        m_thread.join();
}

BootLoaderSim::Result BootLoaderSim::result() const
{
    std::lock_guard<std::mutex> lock(m_resultMutex);
    return m_result;
}

const char *BootLoaderSim::outcomeName(Result::Outcome outcome)
{
    switch (outcome) {
    case Result::Outcome::Received:
        return "received";
    case Result::Outcome::Aborted:
        return "aborted";
    case Result::Outcome::Stopped:
        return "stopped";
    case Result::Outcome::Failed:
        break;
    }
    return "failed";
}

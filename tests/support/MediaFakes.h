#pragma once

#include "platform/ProcessWatcher.h"
#include "platform/ScriptRunner.h"

#include <QStringList>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>

namespace kztest {

// Records every script and answers with what the test set; an optional hook
// runs inside the call (to move a fake application along).
struct RecordingScriptRunner : platform::ScriptRunner {
    std::mutex mutex;
    QStringList scripts;
    QStringList opened;
    platform::ScriptResult answer{platform::ScriptResult::Status::Ok, true, QVariant(), {}, 0};
    platform::ScriptResult openAnswer{platform::ScriptResult::Status::Ok, true, QVariant(), {}, 0};
    std::function<void(const QString&)> onScript;
    std::function<void()> onOpen;

    platform::ScriptResult run(const QString& script) override
    {
        {
            std::lock_guard lock(mutex);
            scripts << script;
        }
        if (onScript)
            onScript(script);
        return answer;
    }
    platform::ScriptResult openWithApplication(const QString& path, const QString& appName) override
    {
        {
            std::lock_guard lock(mutex);
            opened << appName + QStringLiteral(":") + path;
        }
        if (onOpen)
            onOpen();
        return openAnswer;
    }
    QStringList recorded()
    {
        std::lock_guard lock(mutex);
        return scripts;
    }
};

// A recording runner installed as the shared one for as long as this lives.
// Installing the platform's runner instead leaves `runner` null.
struct ScopedScriptRunner {
    RecordingScriptRunner* runner = nullptr;
    ScopedScriptRunner()
    {
        auto made = std::make_unique<RecordingScriptRunner>();
        runner = made.get();
        platform::ScriptRunner::setShared(std::move(made));
    }
    ~ScopedScriptRunner() { platform::ScriptRunner::setShared(nullptr); }
    ScopedScriptRunner(const ScopedScriptRunner&) = delete;
    ScopedScriptRunner& operator=(const ScopedScriptRunner&) = delete;
    void usePlatformRunner()
    {
        platform::ScriptRunner::setShared(nullptr);
        runner = nullptr;
    }
};

// Applications that start and end when the test says; events are delivered
// on the calling thread.
struct FakeProcessWatcher : platform::ProcessWatcher {
    std::mutex mutex;
    std::map<int, Callback> observers;
    std::set<QString> running;
    int nextId = 0;
    std::atomic<int> observeCalls{0};

    platform::Subscription observe(Callback callback) override
    {
        ++observeCalls;
        std::lock_guard lock(mutex);
        const int id = nextId++;
        observers[id] = std::move(callback);
        return platform::Subscription([this, id] {
            std::lock_guard inner(mutex);
            observers.erase(id);
        });
    }
    bool isRunning(const QString& identifier) override
    {
        std::lock_guard lock(mutex);
        return running.contains(identifier);
    }
    std::size_t observerCount()
    {
        std::lock_guard lock(mutex);
        return observers.size();
    }
    void launch(const QString& identifier, const QString& name = QStringLiteral("Photos"))
    {
        {
            std::lock_guard lock(mutex);
            running.insert(identifier);
        }
        emit({platform::ProcessEvent::Kind::Launched, identifier, name, 4242});
    }
    void terminate(const QString& identifier, const QString& name = QStringLiteral("Photos"))
    {
        {
            std::lock_guard lock(mutex);
            running.erase(identifier);
        }
        emit({platform::ProcessEvent::Kind::Terminated, identifier, name, 4242});
    }
    void emit(const platform::ProcessEvent& event)
    {
        std::vector<Callback> callbacks;
        {
            std::lock_guard lock(mutex);
            for (const auto& [id, callback] : observers)
                callbacks.push_back(callback);
        }
        for (const auto& callback : callbacks)
            callback(event);
    }
};

} // namespace kztest

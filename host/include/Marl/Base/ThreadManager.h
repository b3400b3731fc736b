#pragma once
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "Marl/Base/Export.h"
#include "Marl/Base/Noncopyable.h"
#include "Marl/Base/Singleton.h"

namespace Marl { namespace Base {

// A unit of work for a named worker thread. The task's name selects the thread.
class MARL_API CTMTask {
public:
    explicit CTMTask(const std::string& name); // assumed: const std::string&
    virtual ~CTMTask();
    // Runs the task; an exception thrown by Run is caught and dropped here.
    virtual void Exec();    // assumed: void
    virtual void Run() = 0; // assumed: void

    const std::string& GetName() const { return m_name; }

private:
    std::string m_name;
};

class CWorkerThread;

// Named worker threads, each running its tasks one at a time in posting order.
class MARL_API CThreadManager : public CNoncopyable {
public:
    CThreadManager();
    ~CThreadManager();

    // Starts and reserves the named worker thread; returns its non-zero id (the same id when
    // the thread is already reserved), or 0 when no thread can be given.
    unsigned int GetAvailableThread(const std::string& name); // assumed: const std::string&
    // Runs the tasks still queued, then ends and joins the thread. False when not reserved.
    bool ReleaseThread(const std::string& name, bool force); // assumed: const std::string&, bool result
    // Queues the task on the thread named by the task; false when no such thread is reserved.
    bool PostTask(std::shared_ptr<CTMTask> task, bool urgent);

    // Name of the worker thread the caller runs on, empty on any other thread.
    static std::string CurrentThreadName();

    // Stand-in controls: how many worker threads may exist at once (0 refuses every request).
    void SetThreadLimit(unsigned int limit);
    std::size_t ReservedCount() const;

private:
    mutable std::mutex m_mutex;
    std::unordered_map<std::string, std::shared_ptr<CWorkerThread>> m_threads;
    unsigned int m_nextId = 1;
    unsigned int m_limit = 64;
};

}} // namespace Marl::Base

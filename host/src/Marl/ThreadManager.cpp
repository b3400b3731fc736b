#include "Marl/Base/ThreadManager.h"

#include <condition_variable>
#include <deque>
#include <thread>

#include "Platform/HostPlatform.h"

namespace Marl { namespace Base {

namespace {
thread_local std::string t_workerName;
}

CTMTask::CTMTask(const std::string& name) : m_name(name) {}
CTMTask::~CTMTask() = default;

void CTMTask::Exec()
{
    try {
        Run();
    } catch (...) {
        // A failing task must not take the worker thread down with it.
    }
}

// One named worker: a queue run in posting order by one thread. The queue lives in a state
// the thread co-owns, so a thread released from one of its own tasks (and therefore detached)
// never touches freed memory.
class CWorkerThread {
public:
    CWorkerThread(std::string name, unsigned int id) : m_state(std::make_shared<State>()), m_id(id)
    {
        m_state->name = std::move(name);
        m_thread = std::thread([state = m_state] { Loop(*state); });
    }

    ~CWorkerThread() { Finish(); }

    unsigned int Id() const { return m_id; }

    // False once the worker is finishing: the task would never run.
    bool Post(std::shared_ptr<CTMTask> task)
    {
        {
            std::lock_guard<std::mutex> lock(m_state->mutex);
            if (m_state->stopping) {
                return false;
            }
            m_state->queue.push_back(std::move(task));
        }
        m_state->cv.notify_one();
        return true;
    }

    // Runs what is queued, then ends the thread.
    void Finish()
    {
        {
            std::lock_guard<std::mutex> lock(m_state->mutex);
            m_state->stopping = true;
        }
        m_state->cv.notify_one();
        if (m_thread.joinable()) {
            if (m_thread.get_id() == std::this_thread::get_id()) {
                m_thread.detach(); // released from one of its own tasks
            } else {
                m_thread.join();
            }
        }
    }

private:
    struct State {
        std::string name;
        std::mutex mutex;
        std::condition_variable cv;
        std::deque<std::shared_ptr<CTMTask>> queue;
        bool stopping = false;
    };

    static void Loop(State& state)
    {
        t_workerName = state.name;
        Platform::SetCurrentThreadName(state.name);
        for (;;) {
            std::shared_ptr<CTMTask> task;
            {
                std::unique_lock<std::mutex> lock(state.mutex);
                state.cv.wait(lock, [&state] { return state.stopping || !state.queue.empty(); });
                if (state.queue.empty()) {
                    return;
                }
                task = std::move(state.queue.front());
                state.queue.pop_front();
            }
            task->Exec();
        }
    }

    std::shared_ptr<State> m_state;
    unsigned int m_id;
    std::thread m_thread;
};

CThreadManager::CThreadManager() = default;

CThreadManager::~CThreadManager()
{
    std::unordered_map<std::string, std::shared_ptr<CWorkerThread>> threads;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        threads.swap(m_threads);
    }
    threads.clear(); // each worker finishes its queue and is joined
}

unsigned int CThreadManager::GetAvailableThread(const std::string& name)
{
    if (name.empty()) {
        return 0;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_threads.find(name);
    if (it != m_threads.end()) {
        return it->second->Id();
    }
    if (m_threads.size() >= m_limit) {
        return 0;
    }
    const unsigned int id = m_nextId++;
    m_threads.emplace(name, std::make_shared<CWorkerThread>(name, id));
    return id;
}

bool CThreadManager::ReleaseThread(const std::string& name, bool)
{
    std::shared_ptr<CWorkerThread> worker;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_threads.find(name);
        if (it == m_threads.end()) {
            return false;
        }
        worker = std::move(it->second);
        m_threads.erase(it);
    }
    worker->Finish(); // outside the lock: queued tasks may post again and must not block
    return true;
}

bool CThreadManager::PostTask(std::shared_ptr<CTMTask> task, bool)
{
    if (!task) {
        return false;
    }
    std::shared_ptr<CWorkerThread> worker;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_threads.find(task->GetName());
        if (it == m_threads.end()) {
            return false;
        }
        worker = it->second;
    }
    return worker->Post(std::move(task));
}

std::string CThreadManager::CurrentThreadName() { return t_workerName; }

void CThreadManager::SetThreadLimit(unsigned int limit)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_limit = limit;
}

std::size_t CThreadManager::ReservedCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_threads.size();
}

}} // namespace Marl::Base

#include "Marl/Base/ThreadManager.h"

#include <pthread.h>

#include <condition_variable>
#include <deque>
#include <thread>

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

// One named worker: a queue run in posting order by one thread.
class CWorkerThread {
public:
    CWorkerThread(std::string name, unsigned int id) : m_name(std::move(name)), m_id(id)
    {
        m_thread = std::thread([this] { Loop(); });
    }

    ~CWorkerThread() { Finish(); }

    unsigned int Id() const { return m_id; }

    void Post(std::shared_ptr<CTMTask> task)
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_queue.push_back(std::move(task));
        }
        m_cv.notify_one();
    }

    // Runs what is queued, then ends the thread.
    void Finish()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stopping = true;
        }
        m_cv.notify_one();
        if (m_thread.joinable()) {
            if (m_thread.get_id() == std::this_thread::get_id()) {
                m_thread.detach(); // released from one of its own tasks
            } else {
                m_thread.join();
            }
        }
    }

private:
    void Loop()
    {
        t_workerName = m_name;
        // Linux keeps 15 characters of a thread name.
        pthread_setname_np(pthread_self(), m_name.substr(0, 15).c_str());
        for (;;) {
            std::shared_ptr<CTMTask> task;
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_cv.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
                if (m_queue.empty()) {
                    return;
                }
                task = std::move(m_queue.front());
                m_queue.pop_front();
            }
            task->Exec();
        }
    }

    std::string m_name;
    unsigned int m_id;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::deque<std::shared_ptr<CTMTask>> m_queue;
    bool m_stopping = false;
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
    worker->Post(std::move(task));
    return true;
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

#pragma once
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <typeinfo>
#include <utility>
#include <vector>

#include "Common/Log.h"
#include "Common/Platform.h"

namespace iobox {

// The module's shutdown registry: what Init did that Unit must undo, run in reverse order.
class CUnInitFunManager {
public:
    using TickSource = std::function<uint64_t()>;

    // The tick source is the system's monotonic millisecond count; tests pass their own.
    explicit CUnInitFunManager(TickSource tick = &platform::TickCount64) : m_tick(std::move(tick)) {}

    // Records memberFunction bound to its object (the first argument) and the other arguments.
    // The bound call runs at most once; an exception it throws stays inside its task.
    template <class MemberFunction, class... Args>
    void AddUnInitFun(MemberFunction memberFunction, Args&&... args)
    {
        auto task = std::make_shared<std::packaged_task<bool()>>(
            std::bind(memberFunction, std::forward<Args>(args)...));
        m_funs.emplace_back([task]() {
            try {
                (*task)();
            } catch (const std::future_error&) {
                // Already run by an earlier Unit.
            }
        });
        m_names.push_back(platform::DemangleTypeName(typeid(MemberFunction).name()));
        IOBOX_LOG(2, "iobox::CUnInitFunManager::AddUnInitFun", "Fin Init Process %s", m_names.back().c_str());
    }

    // Runs every recorded function, last recorded first, and reports the slow ones.
    void UnintAll();

    std::size_t Size() const { return m_funs.size(); }
    const std::vector<std::string>& Names() const { return m_names; }

private:
    TickSource m_tick;
    std::vector<std::function<void()>> m_funs;
    std::vector<std::string> m_names;
};

} // namespace iobox

#include "Common/UnInitFunManager.h"

#include "Common/Timing.h"

namespace iobox {

void CUnInitFunManager::UnintAll()
{
    static const char* const kFunc = "iobox::CUnInitFunManager::UnintAll";
    auto fun = m_funs.rbegin();
    auto name = m_names.rbegin();
    for (; fun != m_funs.rend() && name != m_names.rend(); ++fun, ++name) {
        IOBOX_LOG(2, kFunc, "UnInit Process %s Begin", name->c_str());
        const uint64_t begin = m_tick();
        (*fun)();
        const uint64_t elapsed = m_tick() - begin;
        if (elapsed > kSlowShutdownStepMs) {
            IOBOX_LOG(4, kFunc, "The unit too slow, the fun is %s, time is %d", name->c_str(), static_cast<int>(elapsed));
        }
        IOBOX_LOG(2, kFunc, "UnInit Process %s Finish", name->c_str());
    }
}

} // namespace iobox

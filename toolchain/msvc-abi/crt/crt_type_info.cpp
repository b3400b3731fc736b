// type_info's destructor and v-table, which every RTTI descriptor points to, and the module's list of undecorated
// names that type_info::name() fills: static in Microsoft's runtime (vcruntime140 exports neither).
#include <vcruntime_typeinfo.h>

extern "C" {
// An SLIST_HEADER: the runtime pushes onto it with cmpxchg16b, which faults unless it is 16-byte aligned.
struct alignas(16) __type_info_node {
    void* _Header[2];
};
__type_info_node __type_info_root_node{};
}

type_info::~type_info() noexcept {}

namespace {
// The v-table proper (the symbol points past the locator slot): slot 0, the scalar deleting destructor.
void* __cdecl DeletingDestructor(type_info* self, unsigned int flags)
{
    self->~type_info();
    if (flags & 1) {
        ::operator delete(self);
    }
    return self;
}
}

extern "C" void* const __iobox_type_info_vftable[2] = {nullptr, reinterpret_cast<void*>(&DeletingDestructor)};
__asm__(".globl \"??_7type_info@@6B@\"\n"
        ".set \"??_7type_info@@6B@\", __iobox_type_info_vftable+8\n");

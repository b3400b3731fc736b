// A DLL's entry point, as Microsoft's dll_dllmain does: initialisers at load, the module's own atexit table (its
// static destructors) at unload, the user's DllMain in between if the DLL has one.
#include "crt_internal.h"

#include <windows.h>

#include <vcruntime_typeinfo.h>

extern "C" _VCRTIMP void __cdecl __std_type_info_destroy_list(__type_info_node* _RootNode);

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID);

extern "C" BOOL WINAPI __iobox_default_DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
// A DLL without DllMain of its own gets the default one.
#pragma comment(linker, "/alternatename:DllMain=__iobox_default_DllMain")

namespace {
_onexit_table_t g_atexitTable{};
bool g_initialised = false;
}

extern "C" BOOL WINAPI _DllMainCRTStartup(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_ATTACH) {
        __security_init_cookie();
        if (_initialize_onexit_table(&g_atexitTable) != 0) {
            return FALSE;
        }
        __iobox_module_atexit_table = &g_atexitTable;
        if (__iobox_run_initialisers() != 0) {
            return FALSE;
        }
        g_initialised = true;
        if (!DllMain(instance, reason, reserved)) {
            DllMain(instance, DLL_PROCESS_DETACH, reserved);
            _execute_onexit_table(&g_atexitTable);
            return FALSE;
        }
        return TRUE;
    }
    if (reason == DLL_PROCESS_DETACH) {
        const BOOL result = DllMain(instance, reason, reserved);
        if (g_initialised) {
            _execute_onexit_table(&g_atexitTable);
            __iobox_run_terminators();
            __std_type_info_destroy_list(&__type_info_root_node);
            g_initialised = false;
        }
        return result;
    }
    return DllMain(instance, reason, reserved);
}
